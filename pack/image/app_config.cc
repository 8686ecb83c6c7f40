#include "pack/image/app_config.h"

#include <algorithm>
#include <charconv>

#include "pack/core/elf_section.h"
#include "pack/core/strings.h"

namespace vorlane {

namespace {

constexpr char kAppDirOption[] = "-Dapp.dir=&&";
constexpr char kArchiveFileOption[] = "-XX:SharedArchiveFile=&&/";
// Both tag sets: a class path that no longer matches is reported under
// [cds], an archive that fails to map under [cds,dynamic].
constexpr char kQuietArchiveOption[] = "-Xlog:cds=off,cds+dynamic=off";

}  // namespace

std::string check_app_name(const std::string& name) {
  if (name.empty()) return "the app's name is empty";
  if (name == "." || name == "..") return "the app's name cannot be '" + name + "'";
  if (name.find('/') != std::string::npos) return "the app's name '" + name + "' holds a '/'";
  if (name.find('\0') != std::string::npos) return "the app's name holds a 0 byte";
  // The Java runtime takes ':' in its own path for a separator and fails to start.
  if (name.find(':') != std::string::npos) return "the app's name '" + name + "' holds a ':'";
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return "the app's name holds a control character (such as a line break)";
    }
  }
  if (name[0] == '.' || name[0] == '-') {
    return "the app's name '" + name + "' starts with '" + name.substr(0, 1) + "'";
  }
  if (name.size() > 200) return "the app's name is longer than 200 bytes";
  return "";
}

std::string check_class_path_element(const std::string& relative) {
  // The launcher would take ':' for a separator, replace "&&" by its folder
  // and expand a trailing '*' as a wildcard.
  if (relative.find(':') != std::string::npos) return "its name holds a ':'";
  if (relative.find("&&") != std::string::npos) return "its name holds '&&'";
  if (relative.find('*') != std::string::npos) return "its name holds a '*'";
  if (relative.find('\n') != std::string::npos) return "its name holds a line break";
  return "";
}

std::string class_path_option(std::vector<std::string> jars, const std::string& main_jar) {
  std::sort(jars.begin(), jars.end());
  std::string value;
  const auto add = [&value](const std::string& jar) {
    value += (value.empty() ? "&&/" : ":&&/") + jar;
  };
  if (!main_jar.empty()) add(main_jar);
  for (const std::string& jar : jars) {
    if (jar != main_jar) add(jar);
  }
  add(kLauncherJarName);
  return "-Djava.class.path=" + value;
}

std::vector<std::string> archive_options() {
  return {std::string(kArchiveFileOption) + kAppArchiveName, kQuietArchiveOption};
}

std::vector<std::string> app_jvm_options(const std::string& class_path, bool with_archive,
                                         const std::vector<std::string>& user_options) {
  std::vector<std::string> options = {class_path, kAppDirOption};
  options.insert(options.end(), user_options.begin(), user_options.end());
  return set_archive_options(std::move(options), with_archive);
}

std::vector<std::string> set_archive_options(std::vector<std::string> options, bool with_archive) {
  const std::vector<std::string> archive = archive_options();
  std::erase_if(options, [&archive](const std::string& o) {
    return std::find(archive.begin(), archive.end(), o) != archive.end();
  });
  if (!with_archive) return options;
  auto at = std::find(options.begin(), options.end(), kAppDirOption);
  at = at == options.end() ? options.begin() : at + 1;
  options.insert(at, archive.begin(), archive.end());
  return options;
}

std::string splash_image_extension(std::string_view head) {
  const std::pair<std::string_view, const char*> magic[] = {
      {std::string_view("\x89PNG\r\n\x1a\n", 8), "png"},
      {"GIF87a", "gif"},
      {"GIF89a", "gif"},
      {"\xff\xd8\xff", "jpg"},
  };
  for (const auto& [bytes, format] : magic) {
    if (head.starts_with(bytes)) return format;
  }
  return "";
}

int splash_scale_of(std::string_view image, std::string_view sibling) {
  const std::size_t dot = image.rfind('.');
  const std::string_view stem = image.substr(0, dot);
  const std::string_view ext = dot == std::string_view::npos ? "" : image.substr(dot);
  if (sibling.size() <= stem.size() + 2 + ext.size() || !sibling.starts_with(stem) ||
      sibling[stem.size()] != '@' || !sibling.ends_with(ext)) {
    return 0;
  }
  std::string_view digits = sibling.substr(stem.size() + 1);
  digits.remove_suffix(ext.size());
  if (!digits.ends_with('x')) return 0;
  digits.remove_suffix(1);
  // The launcher writes the scale as a plain number: 2, never 02.
  int scale = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), scale);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.starts_with('0')) {
    return 0;
  }
  return scale > 1 ? scale : 0;
}

std::string archive_at_exit_option(const std::string& path) {
  return "-XX:ArchiveClassesAtExit=&&/" + path;
}

namespace {

/// A marker value on one line: '\' and line breaks escaped.
std::string escape(const std::string& value) {
  std::string out;
  for (const char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string unescape(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char next = i + 1 < value.size() ? value[i + 1] : '\0';
    // Other backslashes stay: markers of earlier packers did not escape them.
    if (value[i] == '\\' && (next == 'n' || next == '\\')) {
      out += next == 'n' ? '\n' : '\\';
      ++i;
    } else {
      out += value[i];
    }
  }
  return out;
}

}  // namespace

std::string format_marker(const AppMarker& marker) {
  std::string text =
      "# Made by vorlane-pack app. vorlane-pack cds reads it to remake the app's\n"
      "# class-data archive; removing it makes the packer treat this folder as the user's.\n";
  text += "name=" + escape(marker.name) + "\n";
  for (const std::string& arg : marker.training_args) text += "training-arg=" + escape(arg) + "\n";
  for (const std::string& path : marker.made) text += "made=" + escape(path) + "\n";
  return text;
}

std::optional<AppMarker> parse_marker(const std::string& text, std::string& error) {
  AppMarker marker;
  for (const std::string& line : split_lines(text)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = unescape(line.substr(eq + 1));
    if (key == "name") marker.name = value;
    if (key == "training-arg") marker.training_args.push_back(value);
    if (key == "made") marker.made.push_back(value);
  }
  if (const std::string why = check_app_name(marker.name); !why.empty()) {
    error = "it names no launcher (" + why + ")";
    return std::nullopt;
  }
  return marker;
}

CdsPlan plan_cds(std::uint16_t host_machine, std::uint16_t target_machine, bool have_emulator,
                 bool need_base_archive, bool want_app_archive) {
  CdsPlan plan;
  if (host_machine == target_machine || have_emulator) {
    plan.base_archive = need_base_archive;
    plan.training_run = want_app_archive;
    plan.emulated = host_machine != target_machine;
    return plan;
  }
  std::string skipped;
  if (need_base_archive) skipped = "the runtime's default class-data archive";
  if (want_app_archive)
    skipped += (skipped.empty() ? "" : " and ") + std::string("the app archive");
  if (skipped.empty()) return plan;
  const std::string target = machine_name(target_machine);
  plan.note = "the launcher is built for " + target + " and this machine is " +
              machine_name(host_machine) + ", so " + skipped +
              " cannot be made here and the app starts more slowly. Give --emulator (or "
              "VORLANE_EMULATOR) to make them through an emulator, or run `vorlane-pack cds` on a "
              "machine of that kind";
  return plan;
}

}  // namespace vorlane
