#include "pack/packages/package_text.h"

#include <algorithm>
#include <ctime>
#include <sstream>

#include "formats/install_record.h"
#include "formats/package_names.h"
#include "pack/core/strings.h"
#include "pack/packages/package_scripts.h"
#include "pack/packages/templates.h"

namespace vorlane::packages {
namespace {

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

/// Paragraphs of `text` as the indented lines of a Debian field: each line
/// after a blank, an empty line as " .".
std::string debian_continuation(const std::string& text) {
  std::string out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    line = trim(line);
    out += line.empty() ? " .\n" : " " + line + "\n";
  }
  return out;
}

std::tm utc(std::int64_t epoch) {
  const auto t = static_cast<std::time_t>(epoch);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}

std::string format_time(std::int64_t epoch, const char* format) {
  std::tm tm = utc(epoch);
  char buffer[64];
  const std::size_t n = std::strftime(buffer, sizeof buffer, format, &tm);
  return {buffer, n};
}

/// A line that holds `value` when `given`, and is left out otherwise.
Value optional_line(bool given, const std::string& value) {
  return Value::lines(given ? std::vector<std::string>{value} : std::vector<std::string>{});
}

/// `path` as an argument of a desktop entry's Exec key: in double quotes,
/// with `"`, '`', '$' and '\' escaped, when it holds a character the key
/// reserves; the string escapes apply on top.
std::string exec_argument(const std::string& path) {
  if (path.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) return path;
  std::string out = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string long_description_or_summary(const PackageInfo& info) {
  return trim(info.long_description).empty() ? info.summary : trim(info.long_description);
}

}  // namespace

std::optional<PackageType> parse_package_type(const std::string& word) {
  if (word == "deb") return PackageType::kDeb;
  if (word == "rpm") return PackageType::kRpm;
  if (word == "tar.gz") return PackageType::kTarGz;
  return std::nullopt;
}

std::optional<Architecture> architecture_of(std::uint16_t elf_machine) {
  const std::optional<formats::Arch> arch = formats::arch_of_machine(elf_machine);
  if (!arch) return std::nullopt;
  return Architecture{std::string(arch->deb), std::string(arch->rpm),
                      std::string(arch->rpm_lib_suffix)};
}

std::string package_file_name(const PackageInfo& info, PackageType type) {
  // A tarball's name carries no release: the tree updates itself by version.
  return type == PackageType::kDeb
             ? formats::package_file_name(formats::PackageKind::kDeb, info.name,
                                          info.version + "-" + info.release, info.arch.deb)
         : type == PackageType::kRpm
             ? formats::package_file_name(formats::PackageKind::kRpm, info.name,
                                          info.version + "-" + info.release, info.arch.deb)
             : formats::package_file_name(formats::PackageKind::kTarGz, info.name, info.version,
                                          info.arch.deb);
}

std::string iso_date(std::int64_t epoch) { return format_time(epoch, "%Y-%m-%d"); }

std::string rfc2822_date(std::int64_t epoch) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // English names whatever the locale.
  const std::tm tm = utc(epoch);
  return std::string(kDays[tm.tm_wday]) + ", " + format_time(epoch, "%d ") + kMonths[tm.tm_mon] +
         format_time(epoch, " %Y %H:%M:%S +0000");
}

std::string rpm_changelog_date(std::int64_t epoch) {
  const std::string r = rfc2822_date(epoch);  // "Mon, 07 Dec 2026 ..."
  return r.substr(0, 3) + " " + r.substr(8, 3) + " " + r.substr(5, 2) + " " + r.substr(12, 4);
}

std::string deb_control(const PackageInfo& info) {
  std::string depends;
  for (const std::string& d : info.deb_depends) depends += (depends.empty() ? "" : ", ") + d;
  std::string out = "Package: " + info.name + "\nVersion: " + info.version + "-" + info.release +
                    "\nArchitecture: " + info.arch.deb + "\nMaintainer: " + info.maintainer +
                    "\nInstalled-Size: " + std::to_string(info.installed_kib) +
                    (depends.empty() ? "" : "\nDepends: " + depends) +
                    "\nSection: " + info.section + "\nPriority: optional\n";
  if (!info.homepage.empty()) out += "Homepage: " + info.homepage + "\n";
  out += "Description: " + info.summary + "\n" +
         debian_continuation(long_description_or_summary(info));
  return out;
}

std::string deb_copyright(const PackageInfo& info) {
  std::string out = info.name + " " + info.version + "\n\n";
  out += (info.copyright.empty()
              ? "Copyright: " + (info.vendor.empty() ? info.maintainer : info.vendor)
              : info.copyright) +
         "\n\n";
  if (!info.license.empty()) out += "License: " + info.license + "\n\n";
  out += info.license_text.empty() ? "The packager gave no license text.\n" : info.license_text;
  if (!out.ends_with("\n")) out += "\n";
  out += "\nThe Java runtime in " + info.install_dir +
         "/lib/runtime is OpenJDK; its licenses are in " + info.install_dir +
         "/lib/runtime/legal/.\n";
  return out;
}

std::string deb_changelog(const PackageInfo& info) {
  return info.name + " (" + info.version + "-" + info.release +
         ") unstable; urgency=medium\n\n  * Packaged with vorlane-pack.\n\n -- " + info.maintainer +
         "  " + rfc2822_date(info.source_date_epoch) + "\n";
}

std::string rpm_spec(const PackageInfo& info, const std::string& staged_root,
                     const std::vector<std::string>& files, const std::string& rpm_root) {
  // Every value is escaped (rpmbuild expands %(...) and %{...} wherever
  // they are), the %post script twice: as sh, then as spec text.
  const bool site = !info.update_site.empty();
  std::string post;
  if (const std::string dumps = install_dump_commands(info); !dumps.empty()) {
    const std::string script = fill(templates::RpmPostSh{.dumps = Value::fragment(dumps)});
    post = fill(templates::RpmPostSpec{.script = Value::text(script)});
  }
  return fill(templates::RpmSpec{
      .changelog_date = Value::text(rpm_changelog_date(info.source_date_epoch)),
      .description = Value::text(long_description_or_summary(info)),
      .files = Value::lines(files),
      .license = Value::text(info.license.empty() ? "LicenseRef-unknown" : info.license),
      .made = Value::lines(install_made_archives(info)),
      .maintainer = Value::text(info.maintainer),
      .name = Value::text(info.name),
      .packager = optional_line(!info.maintainer.empty(), info.maintainer),
      .post = Value::fragment(post),
      .release = Value::text(info.release),
      // The administrator's changes to the repository file survive upgrades.
      .repo_file = optional_line(site, yum_repo_path(info)),
      .repo_key = optional_line(site, rpm_key_path(info)),
      .requirements = Value::lines(info.rpm_requires),
      .rpm_root = optional_line(!rpm_root.empty(), shell_quote(rpm_root)),
      .staged_root = Value::text(shell_quote(staged_root)),
      .summary = Value::text(info.summary),
      .url = optional_line(!info.homepage.empty(), info.homepage),
      .vendor = optional_line(!info.vendor.empty(), info.vendor),
      .version = Value::text(info.version),
  });
}

std::string install_record(const PackageInfo& info, PackageType type) {
  const formats::InstallKind kind = type == PackageType::kDeb   ? formats::InstallKind::kDeb
                                    : type == PackageType::kRpm ? formats::InstallKind::kRpm
                                                                : formats::InstallKind::kTarball;
  return formats::install_record_text({kind, info.name, info.version + "-" + info.release,
                                       info.arch.deb, info.update_site, info.update_channel,
                                       info.update_feed_key});
}

std::string desktop_entry(const PackageInfo& info) {
  // %u takes a link or a file (as a path or a file:// URL); %f files alone.
  const char* field = !info.url_schemes.empty()         ? " %u"
                      : !info.file_associations.empty() ? " %f"
                                                        : "";
  std::string categories, types;
  for (const std::string& c : info.categories) categories += c + ";";
  for (const FileAssociation& fa : info.file_associations) types += fa.mime_type + ";";
  for (const std::string& scheme : info.url_schemes) types += "x-scheme-handler/" + scheme + ";";
  return fill(templates::AppDesktop{
      .categories = Value::text(categories),
      .comment = Value::text(info.summary),
      .exec = Value::text(exec_argument("/usr/bin/" + info.name) + field),
      .icon = optional_line(info.has_icon, info.app_id),
      .mime_types = optional_line(!types.empty(), types),
      .name = Value::text(info.name),
      .wm_class = Value::text(info.wm_class),
  });
}

std::string normalize_class_list(const std::string& text) {
  std::vector<std::string> comments, classes, directives, with_ids;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    if (line[0] == '#') {
      comments.push_back(line);
    } else if (line.find(" id: ") != std::string::npos) {
      with_ids.push_back(line);
    } else if (line[0] == '@') {
      directives.push_back(line);
    } else {
      classes.push_back(line);
    }
  }
  for (auto* lines : {&classes, &directives}) {
    std::sort(lines->begin(), lines->end());
    lines->erase(std::unique(lines->begin(), lines->end()), lines->end());
  }
  std::string out;
  for (const auto* lines : {&comments, &classes, &directives, &with_ids}) {
    for (const std::string& line : *lines) out += line + "\n";
  }
  return out;
}

std::string metainfo(const PackageInfo& info) {
  // Paragraphs: runs of non-empty lines.
  std::vector<std::string> paragraphs{""};
  std::istringstream in(long_description_or_summary(info));
  for (std::string line; std::getline(in, line);) {
    line = trim(line);
    if (line.empty()) {
      if (!paragraphs.back().empty()) paragraphs.emplace_back();
    } else {
      paragraphs.back() += (paragraphs.back().empty() ? "" : " ") + line;
    }
  }
  if (paragraphs.back().empty()) paragraphs.pop_back();
  std::vector<std::string> types;
  for (const FileAssociation& fa : info.file_associations) types.push_back(fa.mime_type);
  return fill(templates::MetainfoXml{
      .binary = Value::text(info.name),
      .date = Value::text(iso_date(info.source_date_epoch)),
      .developer = optional_line(!info.vendor.empty(), info.vendor),
      .homepage = optional_line(!info.homepage.empty(), info.homepage),
      .id = Value::text(info.app_id),
      .license = optional_line(!info.license.empty(), info.license),
      .media_types = Value::lines(types),
      .name = Value::text(info.name),
      .paragraphs = Value::lines(paragraphs),
      .summary = Value::text(info.summary),
      .version = Value::text(info.version),
  });
}

std::string mime_icon_name(const std::string& mime_type) {
  std::string out = mime_type;
  std::replace(out.begin(), out.end(), '/', '-');
  return out;
}

std::string mime_xml(const PackageInfo& info) {
  if (std::all_of(info.file_associations.begin(), info.file_associations.end(),
                  [](const FileAssociation& fa) { return fa.system_type; })) {
    return "";
  }
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
  for (const FileAssociation& fa : info.file_associations) {
    if (fa.system_type) continue;
    out += "  <mime-type type=\"" + markup_escape(fa.mime_type) + "\">\n    <comment>" +
           markup_escape(fa.description) + "</comment>\n";
    if (!fa.icon.empty()) out += "    <icon name=\"" + mime_icon_name(fa.mime_type) + "\"/>\n";
    out += "    <glob pattern=\"*." + markup_escape(fa.extension) + "\"/>\n  </mime-type>\n";
  }
  return out + "</mime-info>\n";
}

}  // namespace vorlane::packages
