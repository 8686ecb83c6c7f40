#include "formats/launch_data_encoder.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace vorlane::formats {

namespace {

bool is_identifier_start(unsigned char c) {
  // Bytes of 0x80 and up belong to non-ASCII letters in UTF-8 names.
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || c >= 0x80;
}

bool is_identifier_part(unsigned char c) {
  return is_identifier_start(c) || (c >= '0' && c <= '9');
}

std::vector<std::string_view> views(const std::vector<std::string>& list) {
  return {list.begin(), list.end()};
}

/// The whole area for `block`, whose lists must hold at most 255 strings;
/// an area large enough for any such block when the block does not fit.
std::vector<std::uint8_t> encode(const BurnedInData& block, std::size_t& block_size) {
  const std::vector<std::string_view> jvm_options = views(block.jvm_options);
  const std::vector<std::string_view> app_args = views(block.app_args);
  const std::vector<std::string_view> allowed = views(block.allowed_jvm_options);
  const BlockFields fields{block.flags(), block.stack_size, block.main_class,
                           jvm_options,   app_args,         allowed};
  block_size = encoded_size(fields);
  std::vector<std::uint8_t> area(std::max(block_size + 1, kLaunchAreaSize));
  encode_area_into(fields, area);
  return area;
}

std::string with_commas(std::uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

bool is_binary_class_name(std::string_view name) {
  bool at_part_start = true;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '.') {
      if (at_part_start) return false;
      at_part_start = true;
    } else if (at_part_start ? is_identifier_start(c) : is_identifier_part(c)) {
      at_part_start = false;
    } else {
      return false;
    }
  }
  return !at_part_start;
}

std::optional<std::uint64_t> parse_size(std::string_view text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  auto [rest, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || rest == text.data()) return std::nullopt;
  std::uint64_t unit = 1;
  if (rest != end) {
    switch (*rest++) {
      case 'k':
      case 'K':
        unit = 1ull << 10;
        break;
      case 'm':
      case 'M':
        unit = 1ull << 20;
        break;
      case 'g':
      case 'G':
        unit = 1ull << 30;
        break;
      default:
        return std::nullopt;
    }
  }
  if (rest != end || value > std::numeric_limits<std::uint64_t>::max() / unit) return std::nullopt;
  return value * unit;
}

std::vector<std::string> validate_block(const BurnedInData& block, std::uint64_t stack_size) {
  std::vector<std::string> errors;
  if (!is_binary_class_name(block.main_class)) {
    errors.push_back("main class '" + block.main_class +
                     "' is not a Java binary class name (identifiers joined by dots, such as "
                     "demo.Main)");
  }
  if (stack_size < kMinStackSize) {
    errors.push_back("stack size " + with_commas(stack_size) +
                     " bytes is under the minimum of 1 MiB; the JVM cannot start on so small a "
                     "stack");
  } else if (stack_size > std::numeric_limits<std::uint32_t>::max()) {
    errors.push_back("stack size " + with_commas(stack_size) +
                     " bytes does not fit in 32 bits (at most 4,294,967,295)");
  }
  const std::pair<const char*, const std::vector<std::string>*> lists[] = {
      {"JVM options", &block.jvm_options},
      {"arguments", &block.app_args},
      {"allowed JVM option prefixes", &block.allowed_jvm_options},
  };
  for (const std::string& option : block.jvm_options) {
    // The JVM takes anything else for the main class, or fails to start.
    if (!option.starts_with('-')) {
      const std::string shown = option.size() > 60 ? option.substr(0, 57) + "..." : option;
      errors.push_back("JVM option '" + shown + "' does not start with '-'");
      break;
    }
  }
  bool has_nul = block.main_class.find('\0') != std::string::npos;
  for (const auto& [what, list] : lists) {
    if (list->size() > kMaxListEntries) {
      errors.push_back(std::string("too many ") + what + ": " + std::to_string(list->size()) +
                       ", at most 255");
    }
    for (const std::string& s : *list) has_nul = has_nul || s.find('\0') != std::string::npos;
  }
  if (has_nul) errors.emplace_back("a string holds a 0 byte, which the launch data cannot carry");
  if (errors.empty()) {
    // The area keeps its last byte for the final 0.
    const std::size_t size = encode_block(block).size();
    if (size > kLaunchAreaSize - 1) {
      errors.push_back("the launch data takes " + with_commas(size) + " bytes, " +
                       with_commas(size - (kLaunchAreaSize - 1)) + " more than the " +
                       with_commas(kLaunchAreaSize - 1) + " the launcher has room for");
    }
  }
  return errors;
}

std::vector<std::uint8_t> encode_block(const BurnedInData& block) {
  std::size_t size = 0;
  std::vector<std::uint8_t> area = encode(block, size);
  area.resize(size);
  return area;
}

std::vector<std::uint8_t> encode_area(const BurnedInData& block) {
  std::size_t size = 0;
  std::vector<std::uint8_t> area = encode(block, size);
  area.resize(kLaunchAreaSize);
  area.back() = 0;
  return area;
}

}  // namespace vorlane::formats
