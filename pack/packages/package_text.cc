#include "pack/packages/package_text.h"

#include <algorithm>
#include <ctime>
#include <sstream>

#include "formats/install_record.h"
#include "formats/package_names.h"
#include "pack/core/strings.h"

namespace vorlane::packages {
namespace {

bool is_alnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool all_of(const std::string& s, const std::string& extra) {
  return std::all_of(s.begin(), s.end(),
                     [&](char c) { return is_alnum(c) || extra.find(c) != std::string::npos; });
}

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

/// `text` in single quotes for sh. The install dir admits no quote, but a
/// class path element might.
std::string shell_quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
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

std::string long_description_or_summary(const PackageInfo& info) {
  return trim(info.long_description).empty() ? info.summary : trim(info.long_description);
}

std::string script_header(const std::string& why) { return "#!/bin/sh\n# " + why + "\nset -e\n"; }

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

Result<FileAssociation> parse_file_association(const std::string& text) {
  FileAssociation fa;
  // A list on one line separates its pairs with commas; a file, with lines.
  const char separator = text.find('\n') == std::string::npos ? ',' : '\n';
  std::istringstream in(text);
  for (std::string item; std::getline(in, item, separator);) {
    item = trim(item);
    if (item.empty() || item[0] == '#') continue;
    const auto eq = item.find('=');
    if (eq == std::string::npos) {
      return bad_input("'" + item + "' is not KEY=VALUE");
    }
    const std::string key = trim(item.substr(0, eq));
    const std::string value = trim(item.substr(eq + 1));
    if (key == "extension") {
      fa.extension = value.starts_with(".") ? value.substr(1) : value;
    } else if (key == "mime-type") {
      fa.mime_type = value;
    } else if (key == "description") {
      fa.description = value;
    } else if (key == "icon") {
      fa.icon = value;
    } else {
      return bad_input("unknown key '" + key + "' (extension, mime-type, description, icon)");
    }
  }
  if (fa.extension.empty() || !all_of(fa.extension, "._+-")) {
    return bad_input("extension '" + fa.extension +
                     "' is missing or holds other than letters, digits, . _ + -");
  }
  const auto slash = fa.mime_type.find('/');
  static const char* const kMediaTypes[] = {"application", "audio", "font",      "image",
                                            "message",     "model", "multipart", "text",
                                            "video",       "inode", "x-content"};
  const std::string media = fa.mime_type.substr(0, slash);
  if (std::any_of(fa.mime_type.begin(), fa.mime_type.end(),
                  [](char c) { return c >= 'A' && c <= 'Z'; })) {
    return bad_input("mime-type '" + fa.mime_type + "' must be lower case");
  }
  if (slash != std::string::npos && std::none_of(std::begin(kMediaTypes), std::end(kMediaTypes),
                                                 [&](const char* t) { return media == t; })) {
    return bad_input("mime-type '" + fa.mime_type + "': '" + media +
                     "' is no registered media type (application, audio, font, image, "
                     "message, model, multipart, text, video)");
  }
  if (slash == std::string::npos || slash == 0 || slash + 1 == fa.mime_type.size() ||
      !is_alnum(fa.mime_type[slash + 1]) ||
      fa.mime_type.find('/', slash + 1) != std::string::npos || !all_of(fa.mime_type, "/.+-_")) {
    return bad_input("mime-type '" + fa.mime_type + "' is missing or not TYPE/SUBTYPE");
  }
  if (fa.description.empty()) fa.description = fa.extension + " file";
  return fa;
}

Status check_version(const std::string& version) {
  if (version.empty() || !is_digit(version[0]) || !all_of(version, ".+~")) {
    return bad_input(
        "version '" + version +
        "' is no valid Debian and RPM version: it must start with a digit and hold only "
        "letters, digits, '.', '+' and '~'");
  }
  return done();
}

Status check_release(const std::string& release) {
  if (release.empty() || !is_digit(release[0]) || !all_of(release, ".+~")) {
    return bad_input(
        "release '" + release +
        "' is no valid Debian revision and RPM release: it must start with a digit and hold "
        "only letters, digits, '.', '+' and '~'");
  }
  return done();
}

Status check_package_name(const std::string& name) {
  const bool lower =
      std::none_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  if (name.size() < 2 || !is_alnum(name[0]) || !lower || !all_of(name, "+-.")) {
    return bad_input(
        "'" + name +
        "' is no valid package name: at least two lower-case letters, digits, '+', '-' or "
        "'.', starting with a letter or digit (give --package-name)");
  }
  return done();
}

Status check_install_dir(const std::string& dir) {
  if (dir.empty() || dir[0] != '/')
    return bad_input("--install-dir '" + dir + "' is not an absolute path");
  if (dir == "/" || dir.ends_with("/") || dir.find("//") != std::string::npos ||
      dir.find("/./") != std::string::npos || dir.find("/../") != std::string::npos ||
      dir.ends_with("/.") || dir.ends_with("/..") || !all_of(dir, "/._+-")) {
    return bad_input(
        "--install-dir '" + dir +
        "' must be a plain absolute folder other than /: no '.', '..', doubled or trailing "
        "'/', only letters, digits, '.', '_', '+', '-'");
  }
  // Places any local user may write to first, or that are not for programs.
  static const char* const kUnder[] = {"/tmp",  "/var/tmp", "/dev",   "/run",      "/var/run",
                                       "/proc", "/sys",     "/etc",   "/boot",     "/home",
                                       "/root", "/mnt",     "/media", "/var/lock", "/lost+found"};
  for (const std::string prefix : kUnder) {
    if (dir == prefix || dir.starts_with(prefix + "/")) {
      return bad_input("--install-dir " + dir + " is under " + prefix +
                       (prefix == "/etc" ? ", which holds configuration, not programs"
                                         : ", which is no place for a package's files "
                                           "(temporary, per-user or the system's own)") +
                       ": use a folder of its own such as /opt/NAME");
    }
  }
  static const char* const kSystem[] = {
      "/opt",       "/usr",       "/usr/local",     "/usr/bin",       "/usr/sbin",
      "/usr/lib",   "/usr/lib64", "/usr/lib32",     "/usr/libexec",   "/usr/include",
      "/usr/share", "/usr/src",   "/usr/local/bin", "/usr/local/lib", "/usr/local/share",
      "/bin",       "/sbin",      "/lib",           "/lib64",         "/lib32",
      "/libx32",    "/var",       "/var/lib",       "/var/opt",       "/var/cache",
      "/var/log",   "/srv"};
  for (const std::string system : kSystem) {
    if (dir == system) {
      return bad_input("--install-dir " + dir +
                       " is a system folder: the package would spill its bin/ and lib/ into it "
                       "and own it; use a folder of its own such as " +
                       (dir == "/opt" ? std::string("/opt/NAME") : dir + "/NAME"));
    }
  }
  return done();
}

Status check_maintainer(const std::string& maintainer) {
  const auto lt = maintainer.find('<');
  const auto at = maintainer.find('@');
  if (lt == std::string::npos || lt == 0 || !maintainer.ends_with(">") || at == std::string::npos ||
      at < lt || maintainer.find('\n') != std::string::npos) {
    return bad_input("--maintainer '" + maintainer + "' is not 'Name <address@example.org>'");
  }
  return done();
}

Status check_app_id(const std::string& id) {
  if (id.find('.') == std::string::npos || id.starts_with(".") || id.ends_with(".") ||
      id.find("..") != std::string::npos || !all_of(id, "._")) {
    return bad_input("--app-id '" + id + "' is no reverse-DNS id such as org.example.App");
  }
  return done();
}

Status check_url_scheme(const std::string& scheme) {
  const auto fits = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
  };
  if (scheme.empty() || scheme.front() < 'a' || scheme.front() > 'z' ||
      !std::all_of(scheme.begin(), scheme.end(), fits)) {
    return bad_input("--url-scheme '" + scheme +
                     "' is no URL scheme in lower case: a letter, then letters, digits, '+', '-' "
                     "or '.'");
  }
  for (const char* taken : {"file", "http", "https", "mailto", "ftp", "data", "javascript"}) {
    if (scheme == taken) {
      return bad_input("--url-scheme '" + scheme +
                       "' belongs to the user's other programs; choose one of the app's own");
    }
  }
  return done();
}

std::string default_wm_class(const std::string& main_class) {
  std::string out = main_class;
  std::replace(out.begin(), out.end(), '.', '-');
  return out;
}

std::string default_app_id(const std::string& main_class, const std::string& name) {
  std::string part = name;
  std::replace(part.begin(), part.end(), '-', '_');
  std::replace(part.begin(), part.end(), '+', '_');
  const auto last = main_class.rfind('.');
  const std::string package = last == std::string::npos ? "" : main_class.substr(0, last);
  if (package.find('.') != std::string::npos) return package + "." + part;
  return "app." + part;
}

Status check_category(const std::string& category) {
  // The main and additional categories of the freedesktop menu rules.
  static const char* const kRegistered[] = {"AudioVideo",
                                            "Audio",
                                            "Video",
                                            "Development",
                                            "Education",
                                            "Game",
                                            "Graphics",
                                            "Network",
                                            "Office",
                                            "Science",
                                            "Settings",
                                            "System",
                                            "Utility",
                                            "Building",
                                            "Debugger",
                                            "IDE",
                                            "GUIDesigner",
                                            "Profiling",
                                            "RevisionControl",
                                            "Translation",
                                            "Calendar",
                                            "ContactManagement",
                                            "Database",
                                            "Dictionary",
                                            "Chart",
                                            "Email",
                                            "Finance",
                                            "FlowChart",
                                            "PDA",
                                            "ProjectManagement",
                                            "Presentation",
                                            "Spreadsheet",
                                            "WordProcessor",
                                            "2DGraphics",
                                            "VectorGraphics",
                                            "RasterGraphics",
                                            "3DGraphics",
                                            "Scanning",
                                            "OCR",
                                            "Photography",
                                            "Publishing",
                                            "Viewer",
                                            "TextTools",
                                            "DesktopSettings",
                                            "HardwareSettings",
                                            "Printing",
                                            "PackageManager",
                                            "Dialup",
                                            "InstantMessaging",
                                            "Chat",
                                            "IRCClient",
                                            "Feed",
                                            "FileTransfer",
                                            "HamRadio",
                                            "News",
                                            "P2P",
                                            "RemoteAccess",
                                            "Telephony",
                                            "TelephonyTools",
                                            "VideoConference",
                                            "WebBrowser",
                                            "WebDevelopment",
                                            "Midi",
                                            "Mixer",
                                            "Sequencer",
                                            "Tuner",
                                            "TV",
                                            "AudioVideoEditing",
                                            "Player",
                                            "Recorder",
                                            "DiscBurning",
                                            "ActionGame",
                                            "AdventureGame",
                                            "ArcadeGame",
                                            "BoardGame",
                                            "BlocksGame",
                                            "CardGame",
                                            "KidsGame",
                                            "LogicGame",
                                            "RolePlaying",
                                            "Shooter",
                                            "Simulation",
                                            "SportsGame",
                                            "StrategyGame",
                                            "Art",
                                            "Construction",
                                            "Music",
                                            "Languages",
                                            "ArtificialIntelligence",
                                            "Astronomy",
                                            "Biology",
                                            "Chemistry",
                                            "ComputerScience",
                                            "DataVisualization",
                                            "Economy",
                                            "Electricity",
                                            "Geography",
                                            "Geology",
                                            "Geoscience",
                                            "History",
                                            "Humanities",
                                            "ImageProcessing",
                                            "Literature",
                                            "Maps",
                                            "Math",
                                            "NumericalAnalysis",
                                            "MedicalSoftware",
                                            "Physics",
                                            "Robotics",
                                            "Spirituality",
                                            "Sports",
                                            "ParallelComputing",
                                            "Amusement",
                                            "Archiving",
                                            "Compression",
                                            "Electronics",
                                            "Emulator",
                                            "Engineering",
                                            "FileTools",
                                            "FileManager",
                                            "TerminalEmulator",
                                            "Filesystem",
                                            "Monitor",
                                            "Security",
                                            "Accessibility",
                                            "Calculator",
                                            "Clock",
                                            "TextEditor",
                                            "Documentation",
                                            "Adult",
                                            "Core",
                                            "KDE",
                                            "GNOME",
                                            "XFCE",
                                            "DDE",
                                            "GTK",
                                            "Qt",
                                            "Motif",
                                            "Java",
                                            "ConsoleOnly"};
  if (std::any_of(std::begin(kRegistered), std::end(kRegistered),
                  [&](const char* r) { return category == r; })) {
    return done();
  }
  if (category.starts_with("X-") && category.size() > 2 && all_of(category, "-")) return done();
  return bad_input("--linux-menu-group: '" + category +
                   "' is no registered desktop menu category (such as Office, Utility, "
                   "Development, Graphics) nor an X-Name extension");
}

bool is_own_mime_type(const std::string& mime_type, const std::vector<std::string>& known) {
  const std::string subtype = mime_type.substr(mime_type.find('/') + 1);
  const bool unregistered =
      subtype.starts_with("x-") || subtype.starts_with("vnd.") || subtype.starts_with("prs.");
  return unregistered && std::find(known.begin(), known.end(), mime_type) == known.end();
}

std::vector<std::string> split_categories(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  for (char c : text + ";") {
    if (c == ';' || c == ',') {
      if (!trim(current).empty()) out.push_back(trim(current));
      current.clear();
    } else {
      current += c;
    }
  }
  return out;
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

std::string archive_dump_command(const PackageInfo& info) {
  if (info.class_list.empty()) return "";
  const std::string dir = info.install_dir + "/";
  return shell_quote(dir + "lib/runtime/bin/java") +
         " -Xshare:dump -XX:SharedClassListFile=" + shell_quote(dir + info.class_list) +
         " -XX:SharedArchiveFile=" + shell_quote(dir + info.archive) + " -cp " +
         shell_quote(info.class_path) + " >/dev/null 2>&1 || rm -f " +
         shell_quote(dir + info.archive);
}

std::string install_dump_commands(const PackageInfo& info) {
  const std::string dir = info.install_dir + "/";
  std::string out;
  for (const PackageInfo::RuntimeDump& d : info.runtime_dumps) {
    out += shell_quote(dir + "lib/runtime/bin/java") +
           (d.option.empty() ? "" : " " + shell_quote(d.option)) +
           " -Xshare:dump -XX:SharedArchiveFile=" + shell_quote(dir + d.archive) +
           " >/dev/null 2>&1 || rm -f " + shell_quote(dir + d.archive) + " &\n";
  }
  if (const std::string app = archive_dump_command(info); !app.empty()) out += app + "\n";
  // The runtime's dumps run beside the app's, each on a core of its own.
  if (!info.runtime_dumps.empty()) out += "wait\n";
  return out;
}

std::vector<std::string> install_made_archives(const PackageInfo& info) {
  std::vector<std::string> files;
  for (const PackageInfo::RuntimeDump& d : info.runtime_dumps) {
    files.push_back(info.install_dir + "/" + d.archive);
  }
  if (!info.class_list.empty()) files.push_back(info.install_dir + "/" + info.archive);
  return files;
}

namespace {

/// `rm -f` of every file the post-install step makes.
std::string remove_made_archives(const PackageInfo& info) {
  std::string out = "rm -f";
  // Appended, not " " + quoted: GCC 12 at -O3 sees a false overlap in the latter.
  for (const std::string& f : install_made_archives(info)) out.append(" ").append(shell_quote(f));
  return out;
}

}  // namespace

std::string apt_keyring_path(const PackageInfo& info) {
  return "/usr/share/keyrings/" + info.name + "-archive-keyring.gpg";
}
std::string tree_keyring_path(const PackageInfo& info) {
  return info.install_dir + "/lib/" + info.name + "-archive-keyring.gpg";
}
std::string apt_sources_path(const PackageInfo& info) {
  return "/etc/apt/sources.list.d/" + info.name + ".sources";
}
std::string yum_repo_path(const PackageInfo& info) {
  return "/etc/yum.repos.d/" + info.name + ".repo";
}
std::string rpm_key_path(const PackageInfo& info) {
  return "/etc/pki/rpm-gpg/RPM-GPG-KEY-" + info.name;
}

std::string apt_sources(const PackageInfo& info) {
  return "Types: deb\nURIs: " + info.update_site + "\nSuites: " + info.update_channel +
         "\nComponents: main\nArchitectures: " + info.arch.deb +
         "\nSigned-By: " + apt_keyring_path(info) + "\n";
}

std::string yum_repo(const PackageInfo& info) {
  return "[" + info.name + "]\nname=" + info.name + " (" + info.update_channel +
         ")\nbaseurl=" + info.update_site + "/rpm/" + info.update_channel +
         "\nenabled=1\ngpgcheck=1\nrepo_gpgcheck=1\ngpgkey=file://" + rpm_key_path(info) + "\n";
}

namespace {

/// The .deb's part of following the update site: the keyring apt checks the
/// site with, then the source, unless the administrator opted out in
/// /etc/default/NAME (repo_add_once=false: our own source goes too) or
/// lists the site's address already, under any name. Nothing here fails the
/// install.
std::string apt_subscription(const PackageInfo& info) {
  const std::string sources = apt_sources_path(info);
  std::string lines;
  for (const std::string& line : split_lines(apt_sources(info))) {
    lines.append(" ").append(shell_quote(line));
  }
  std::string out = "install -m 0644 ";
  return out + shell_quote(tree_keyring_path(info)) + " " + shell_quote(apt_keyring_path(info)) +
         " || true\n" + "if grep -Eqs '^[[:space:]]*repo_add_once=[\"'\\'']?false' " +
         shell_quote("/etc/default/" + info.name) + "; then\n  rm -f " + shell_quote(sources) +
         "\nelif [ ! -e " + shell_quote(sources) +
         " ] &&\n  ! grep -rqsF --exclude=" + shell_quote(info.name + ".sources") + " -e " +
         shell_quote(info.update_site) +
         " /etc/apt/sources.list /etc/apt/sources.list.d; then\n  printf '%s\\n'" + lines + " >" +
         shell_quote(sources) + " || true\nfi\n";
}

std::string indent(const std::string& text) {
  std::string out;
  for (const std::string& line : split_lines(text)) out += "  " + line + "\n";
  return out;
}

}  // namespace

std::string deb_postinst(const PackageInfo& info) {
  const std::string dumps = install_dump_commands(info);
  if (dumps.empty() && info.update_site.empty()) return "";
  std::string why, body;
  if (!dumps.empty()) {
    why =
        "Makes the class-data archives for the installed paths with the shipped runtime\n"
        "# (the app's from the class list recorded when the package was made); without\n"
        "# them the app only starts slower.";
    body += dumps;
  }
  if (!info.update_site.empty()) {
    why += std::string(why.empty() ? "" : "\n# ") +
           "Follows the app's update site: its keyring, and its apt source unless the\n"
           "# administrator opted out in /etc/default/" +
           info.name + " or lists it already.";
    body += apt_subscription(info);
  }
  return script_header(why) + "if [ \"$1\" = configure ]; then\n" + indent(body) + "fi\nexit 0\n";
}

std::string deb_prerm(const PackageInfo& info) {
  if (install_made_archives(info).empty()) return "";
  return script_header("Removes the class-data archives the post-install step made.") +
         remove_made_archives(info) + "\nexit 0\n";
}

std::string deb_postrm(const PackageInfo& info) {
  const bool archives = !install_made_archives(info).empty();
  if (!archives && info.update_site.empty()) return "";
  std::string out = script_header(
      archives ? "Removes the class-data archives, should a failed removal have left them;\n"
                 "# on purge, the update site's source and keyring."
               : "On purge, removes the update site's source and keyring.");
  if (archives) {
    out += "if [ \"$1\" = purge ] || [ \"$1\" = remove ]; then\n  " + remove_made_archives(info) +
           "\nfi\n";
  }
  if (!info.update_site.empty()) {
    // Remove and upgrade keep them: the administrator's choice of source stays.
    out += "if [ \"$1\" = purge ]; then\n  rm -f " + shell_quote(apt_sources_path(info)) + " " +
           shell_quote(apt_keyring_path(info)) + "\nfi\n";
  }
  return out + "exit 0\n";
}

std::string rpm_spec(const PackageInfo& info, const std::string& staged_root,
                     const std::vector<std::string>& files, const std::string& rpm_root) {
  // Every value is escaped: rpmbuild expands %(...) and %{...} wherever they are.
  const auto e = rpm_escape;
  std::string out =
      "# No stripping, byte-compiling or dependency scanning: the tree is shipped as it is.\n"
      "%global __os_install_post %{nil}\n"
      "%global debug_package %{nil}\n"
      "%global _build_id_links none\n"
      "Name: " +
      e(info.name) + "\nVersion: " + e(info.version) + "\nRelease: " + e(info.release) +
      "\nSummary: " + e(info.summary) +
      "\nLicense: " + (info.license.empty() ? "LicenseRef-unknown" : e(info.license)) + "\n";
  if (!info.homepage.empty()) out += "URL: " + e(info.homepage) + "\n";
  if (!info.vendor.empty()) out += "Vendor: " + e(info.vendor) + "\n";
  if (!info.maintainer.empty()) out += "Packager: " + e(info.maintainer) + "\n";
  out += "AutoReqProv: no\n";
  for (const std::string& r : info.rpm_requires) out += "Requires: " + e(r) + "\n";
  out += "\n%description\n" + e(long_description_or_summary(info)) + "\n\n%install\ncp -a " +
         e(shell_quote(staged_root)) + "/. %{buildroot}/\n";
  if (!rpm_root.empty()) out += "cp -a " + e(shell_quote(rpm_root)) + "/. %{buildroot}/\n";
  out += "\n%files\n%defattr(-,root,root,-)\n";
  for (const std::string& f : files) out += e(f) + "\n";
  if (!info.update_site.empty()) {
    // The administrator's changes to the repository file survive upgrades.
    out += "%config(noreplace) " + e(yum_repo_path(info)) + "\n" + e(rpm_key_path(info)) + "\n";
  }
  for (const std::string& made : install_made_archives(info)) {
    out += "%ghost %attr(0644,root,root) " + e(made) + "\n";
  }
  if (const std::string dumps = install_dump_commands(info); !dumps.empty()) {
    out += "\n%post\n" + e(dumps) + "exit 0\n";
  }
  out += "\n%changelog\n* " + rpm_changelog_date(info.source_date_epoch) + " " +
         e(info.maintainer) + " - " + e(info.version) + "-" + e(info.release) +
         "\n- Packaged with vorlane-pack.\n";
  return out;
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
  std::string out = "[Desktop Entry]\nType=Application\nName=" + desktop_escape(info.name) +
                    "\nComment=" + desktop_escape(info.summary) + "\nExec=/usr/bin/" + info.name +
                    field + "\n";
  if (info.has_icon) out += "Icon=" + info.app_id + "\n";
  out += "Terminal=false\nCategories=";
  for (const std::string& c : info.categories) out += c + ";";
  out += "\nStartupWMClass=" + desktop_escape(info.wm_class) + "\n";
  if (!info.file_associations.empty() || !info.url_schemes.empty()) {
    out += "MimeType=";
    for (const FileAssociation& fa : info.file_associations) out += fa.mime_type + ";";
    for (const std::string& scheme : info.url_schemes) out += "x-scheme-handler/" + scheme + ";";
    out += "\n";
  }
  return out;
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

std::string rpm_escape(const std::string& text) {
  std::string out;
  for (char c : text) out += c == '%' ? std::string("%%") : std::string(1, c);
  return out;
}

std::string desktop_escape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == ' ' && i == 0) {
      out += "\\s";
    } else {
      out += c;
    }
  }
  return out;
}

Status check_text(const std::string& what, const std::string& value, bool multi_line) {
  for (char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7f) continue;
    if (multi_line && (c == '\n' || c == '\t')) continue;
    if (c == '\n' || c == '\r') {
      return bad_input(what + " '" + value + "' holds a line break; it must be one line");
    }
    return bad_input(what + " holds the control character " + std::to_string(u) +
                     ", which no package format can carry");
  }
  return done();
}

Status check_rpm_description(const std::string& what, const std::string& text) {
  std::istringstream in(text);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    if (trim(line).starts_with("%")) {
      return bad_input(what + ": line " + std::to_string(number) + " '" + trim(line) +
                       "' starts with '%', which an RPM spec reads as a section or a macro line: "
                       "reword it");
    }
  }
  return done();
}

Status check_section(const std::string& section) {
  const auto slash = section.find('/');
  if (section.empty() || !is_alnum(section[0]) || !all_of(section, "+-./") ||
      std::any_of(section.begin(), section.end(), [](char c) { return c >= 'A' && c <= 'Z'; }) ||
      (slash != std::string::npos && section.find('/', slash + 1) != std::string::npos)) {
    return bad_input("--linux-app-category '" + section +
                     "' is no Debian section such as misc, utils or contrib/utils");
  }
  return done();
}

std::string metainfo(const PackageInfo& info) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<component type=\"desktop-application\">\n"
      "  <id>" +
      markup_escape(info.app_id) +
      "</id>\n"
      "  <metadata_license>FSFAP</metadata_license>\n";
  if (!info.license.empty())
    out += "  <project_license>" + markup_escape(info.license) + "</project_license>\n";
  out += "  <name>" + markup_escape(info.name) + "</name>\n  <summary>" +
         markup_escape(info.summary) + "</summary>\n  <description>\n";
  // Paragraphs: runs of non-empty lines.
  std::istringstream in(long_description_or_summary(info));
  std::string paragraph;
  auto flush = [&] {
    if (!paragraph.empty()) out += "    <p>" + markup_escape(paragraph) + "</p>\n";
    paragraph.clear();
  };
  for (std::string line; std::getline(in, line);) {
    line = trim(line);
    if (line.empty()) {
      flush();
    } else {
      paragraph += (paragraph.empty() ? "" : " ") + line;
    }
  }
  flush();
  out += "  </description>\n  <launchable type=\"desktop-id\">" + markup_escape(info.app_id) +
         ".desktop</launchable>\n";
  if (!info.homepage.empty())
    out += "  <url type=\"homepage\">" + markup_escape(info.homepage) + "</url>\n";
  if (!info.vendor.empty())
    out += "  <developer_name>" + markup_escape(info.vendor) + "</developer_name>\n";
  out += "  <provides>\n    <binary>" + markup_escape(info.name) + "</binary>\n";
  for (const FileAssociation& fa : info.file_associations) {
    out += "    <mediatype>" + markup_escape(fa.mime_type) + "</mediatype>\n";
  }
  out +=
      "  </provides>\n  <content_rating type=\"oars-1.1\"/>\n  <releases>\n    <release "
      "version=\"" +
      markup_escape(info.version) + "\" date=\"" + iso_date(info.source_date_epoch) +
      "\"/>\n  </releases>\n</component>\n";
  return out;
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
