#include "pack/image/burn.h"

#include <algorithm>
#include <string_view>

#include "formats/launch_data_encoder.h"
#include "formats/launch_options.h"
#include "pack/core/elf_section.h"
#include "pack/core/files.h"

namespace vorlane {

using formats::BurnedInData;
using formats::encode_area;
using formats::kLaunchAreaSection;
using formats::kLaunchAreaSize;
using formats::kSplashOptionPrefix;
using formats::single_instance_id;
using formats::validate_block;

namespace {

/// The reserved area's place in a launcher image, or the reason there is none.
Result<SectionLocation> find_launch_area(std::span<const std::uint8_t> image,
                                         const std::string& path) {
  Result<SectionLocation> area = find_elf_section(image, kLaunchAreaSection);
  if (!area) {
    return as_input(with_context(path + " is not a launcher template: ", area.error()));
  }
  if (area->size != kLaunchAreaSize) {
    return bad_input(path + " is not a launcher template: its launch data area holds " +
                     std::to_string(area->size) + " bytes, not " + std::to_string(kLaunchAreaSize));
  }
  return area;
}

void describe_list(std::string& out, const char* title, const std::vector<std::string>& list) {
  out += title;
  out += " (" + std::to_string(list.size()) + "):\n";
  for (std::size_t i = 0; i < list.size(); ++i) {
    out += "  [" + std::to_string(i) + "] " + list[i] + "\n";
  }
}

std::string yes_no(bool b) { return b ? "yes" : "no"; }

}  // namespace

std::string default_template_path() { return own_directory() + "/../lib/vorlane/launcher"; }

std::vector<std::string> burn(const std::string& template_path, const std::string& output_path,
                              BurnedInData block, std::uint64_t stack_size) {
  block.stack_size = static_cast<std::uint32_t>(stack_size);
  std::vector<std::string> errors = validate_block(block, stack_size);
  if (!errors.empty()) return errors;

  Result<std::vector<std::uint8_t>> image = read_file_no_fifo(template_path);
  if (!image) return {image.error().message};
  Result<SectionLocation> area = find_launch_area(*image, template_path);
  if (!area) return {area.error().message};

  const std::vector<std::uint8_t> bytes = encode_area(block);
  std::copy(bytes.begin(), bytes.end(), image->begin() + static_cast<std::ptrdiff_t>(area->offset));
  if (Status written = write_file_atomically(output_path, *image, 0755); !written) {
    return {written.error().message};
  }
  return {};
}

Result<BurnedInData> read_burned_block(const std::string& path) {
  Result<std::vector<std::uint8_t>> image = read_file_no_fifo(path);
  if (!image) return image.error();
  Result<SectionLocation> area = find_launch_area(*image, path);
  if (!area) return area.error();
  const BurnedInData block{std::span<const std::uint8_t>(*image).subspan(area->offset, area->size)};
  if (!block.intact) {
    return bad_input(path +
                     ": the launch data block is corrupt (it runs past the end of its area)");
  }
  return block;
}

std::string describe_block(const BurnedInData& block) {
  std::string out;
  out += "main class:          " + block.main_class + "\n";
  out += "run on main thread:  " + yes_no(block.run_on_main_thread) + "\n";
  out += "console app:         " + yes_no(block.console_app) + "\n";
  constexpr std::string_view kHexDigits = "0123456789abcdef";
  out += "flags:               0x";
  out += kHexDigits[block.flags() >> 4];
  out += kHexDigits[block.flags() & 0xF];
  out += "\n";
  out += "stack size:          " + std::to_string(block.stack_size) + " bytes";
  if (block.stack_size % (1024 * 1024) == 0) {
    out += " (" + std::to_string(block.stack_size / (1024 * 1024)) + " MiB)";
  } else if (block.stack_size % 1024 == 0) {
    out += " (" + std::to_string(block.stack_size / 1024) + " KiB)";
  }
  out += "\n";
  describe_list(out, "JVM options", block.jvm_options);
  // The launcher shows the first -splash: option's image and drops the others.
  const auto splash =
      std::find_if(block.jvm_options.begin(), block.jvm_options.end(),
                   [](const std::string& o) { return o.starts_with(kSplashOptionPrefix); });
  if (splash != block.jvm_options.end()) {
    out += "splash:              " + splash->substr(kSplashOptionPrefix.size()) + "\n";
  }
  if (const std::optional<std::string> id = single_instance_id(block.jvm_options)) {
    out += "single instance:     " + *id + "\n";
  }
  describe_list(out, "arguments", block.app_args);
  describe_list(out, "allowed user JVM options (VORLANE_JVM_OPTIONS)", block.allowed_jvm_options);
  return out;
}

}  // namespace vorlane
