#include "pack/image/app_config.h"

#include <algorithm>
#include <charconv>

#include "pack/core/elf_section.h"
#include "pack/core/strings.h"

namespace vorlane {

namespace {

constexpr char kAppDirOption[] = "-Dapp.dir=&&";
constexpr char kArchiveFileOption[] = "-XX:SharedArchiveFile=&&/";
constexpr char kCacheFileOption[] = "-XX:AOTCache=&&/";
// Both tag sets: a class path that no longer matches is reported under
// [cds], an archive that fails to map under [cds,dynamic].
constexpr char kQuietArchiveOption[] = "-Xlog:cds=off,cds+dynamic=off";
// 24 and later report under [aot] too, and on standard output.
constexpr char kQuietAotOption[] = "-Xlog:aot*=off,cds*=off";
constexpr char kCacheName[] = "vorlane-app.aot";
constexpr char kClassListName[] = "vorlane-app.classlist";
constexpr char kCacheConfigurationName[] = "vorlane-app.aotconf";

/// The leading number of `text` from `at` on, and where it ends; nullopt
/// when there is no digit there or it is too large.
std::optional<int> number_at(const std::string& text, std::size_t& at) {
  const std::size_t start = at;
  int value = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    value = value * 10 + (text[at] - '0');
    if (value > 100000) return std::nullopt;
  }
  return at == start ? std::nullopt : std::optional<int>(value);
}

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

std::optional<ArchiveKind> archive_kind_for(const std::string& java_version) {
  // FEATURE[.INTERIM[.UPDATE[...]]][-PRE]
  std::size_t at = 0;
  const std::optional<int> feature = number_at(java_version, at);
  if (!feature || *feature < 9) return std::nullopt;
  int interim = 0;
  int update = 0;
  if (at < java_version.size() && java_version[at] == '.') {
    ++at;
    const std::optional<int> value = number_at(java_version, at);
    if (!value) return std::nullopt;
    interim = *value;
  }
  if (at < java_version.size() && java_version[at] == '.') {
    ++at;
    const std::optional<int> value = number_at(java_version, at);
    if (!value) return std::nullopt;
    update = *value;
  }
  if (*feature < 25) return ArchiveKind::kDynamic;
  // The cache checks its jars since 25.0.4 (JDK-8377932).
  if (*feature == 25 && interim == 0 && update < 4) return ArchiveKind::kStaticLinked;
  return ArchiveKind::kAotCache;
}

std::string archive_kind_name(ArchiveKind kind) {
  switch (kind) {
    case ArchiveKind::kDynamic:
      return "dynamic";
    case ArchiveKind::kStaticLinked:
      return "static-linked";
    case ArchiveKind::kAotCache:
      return "aot-cache";
  }
  return "";
}

std::optional<ArchiveKind> parse_archive_kind(const std::string& name) {
  for (const ArchiveKind kind :
       {ArchiveKind::kDynamic, ArchiveKind::kStaticLinked, ArchiveKind::kAotCache}) {
    if (archive_kind_name(kind) == name) return kind;
  }
  return std::nullopt;
}

std::string archive_file_name(ArchiveKind kind) {
  return kind == ArchiveKind::kAotCache ? kCacheName : kAppArchiveName;
}

std::string archive_work_file_name(ArchiveKind kind) {
  switch (kind) {
    case ArchiveKind::kDynamic:
      return "";
    case ArchiveKind::kStaticLinked:
      return kClassListName;
    case ArchiveKind::kAotCache:
      return kCacheConfigurationName;
  }
  return "";
}

std::vector<std::string> all_archive_file_names() {
  return {kAppArchiveName, kCacheName, kClassListName, kCacheConfigurationName};
}

std::string archive_temp_name(const std::string& file) {
  const std::size_t dot = file.rfind('.');
  return dot == std::string::npos ? file + ".new" : file.substr(0, dot) + ".new" + file.substr(dot);
}

std::string quiet_archive_option(int feature_version) {
  return feature_version >= 24 ? kQuietAotOption : kQuietArchiveOption;
}

std::vector<std::string> archive_options(const ArchiveChoice& choice) {
  const std::string file = archive_file_name(choice.kind);
  return {(choice.kind == ArchiveKind::kAotCache ? kCacheFileOption : kArchiveFileOption) + file,
          quiet_archive_option(choice.feature_version)};
}

std::vector<std::string> app_jvm_options(const std::string& class_path,
                                         const std::optional<ArchiveChoice>& archive,
                                         const std::vector<std::string>& user_options) {
  std::vector<std::string> options = {class_path, kAppDirOption};
  options.insert(options.end(), user_options.begin(), user_options.end());
  return set_archive_options(std::move(options), archive);
}

std::vector<std::string> set_archive_options(std::vector<std::string> options,
                                             const std::optional<ArchiveChoice>& archive) {
  const std::vector<std::string> ours = {std::string(kArchiveFileOption) + kAppArchiveName,
                                         std::string(kCacheFileOption) + kCacheName,
                                         kQuietArchiveOption, kQuietAotOption};
  std::erase_if(options, [&ours](const std::string& o) {
    return std::find(ours.begin(), ours.end(), o) != ours.end();
  });
  if (!archive) return options;
  const std::vector<std::string> added = archive_options(*archive);
  auto at = std::find(options.begin(), options.end(), kAppDirOption);
  at = at == options.end() ? options.begin() : at + 1;
  options.insert(at, added.begin(), added.end());
  return options;
}

std::string archive_breaking_option(const std::vector<std::string>& options) {
  // Each stops the VM next to some kind, makes it dump or write an archive
  // instead, or names another archive in place of the app's.
  static const char* const kBreaking[] = {
      "-Xshare:",
      "-XX:SharedArchiveFile",
      "-XX:SharedClassListFile",
      "-XX:DumpLoadedClassList",
      "-XX:ArchiveClassesAtExit",
      "-XX:+AutoCreateSharedArchive",
      "-XX:AOTCache",  // and AOTCacheOutput
      "-XX:AOTConfiguration",
      "-XX:AOTMode",
  };
  for (const std::string& option : options) {
    for (const char* prefix : kBreaking) {
      if (option.starts_with(prefix)) return option;
    }
  }
  return "";
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

std::vector<std::vector<std::string>> archive_making_runs(ArchiveKind kind,
                                                          const std::string& file) {
  const std::string work = std::string("&&/") + archive_work_file_name(kind);
  switch (kind) {
    case ArchiveKind::kDynamic:
      return {{"-XX:ArchiveClassesAtExit=&&/" + file}};
    case ArchiveKind::kStaticLinked:
      // The dump also runs main on 25, so it gets the training arguments too.
      return {{"-Xshare:off", "-XX:DumpLoadedClassList=" + work},
              {"-Xshare:dump", "-XX:+AOTClassLinking", "-XX:SharedClassListFile=" + work,
               "-XX:SharedArchiveFile=&&/" + file}};
    case ArchiveKind::kAotCache:
      // Two steps, not -XX:AOTCacheOutput: its second step starts the
      // runtime's bin/java as a child, which an emulator cannot start.
      return {{"-XX:AOTMode=record", "-XX:AOTConfiguration=" + work},
              {"-XX:AOTMode=create", "-XX:AOTConfiguration=" + work, "-XX:AOTCache=&&/" + file}};
  }
  return {};
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
  if (marker.archive) text += "archive=" + archive_kind_name(*marker.archive) + "\n";
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
    // An unknown kind (a later packer's) is left for `cds` to choose again.
    if (key == "archive") marker.archive = parse_archive_kind(value);
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
