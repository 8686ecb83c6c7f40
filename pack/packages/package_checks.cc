#include "pack/packages/package_checks.h"

#include <algorithm>
#include <sstream>

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

}  // namespace

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

}  // namespace vorlane::packages
