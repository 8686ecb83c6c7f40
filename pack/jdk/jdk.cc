#include "pack/jdk/jdk.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>

#include "pack/core/elf_section.h"
#include "pack/core/files.h"

namespace fs = std::filesystem;

namespace vorlane {

namespace {

bool is_executable(const std::string& path) {
  return fs::is_regular_file(path) && access(path.c_str(), X_OK) == 0;
}

bool is_jdk(const std::string& home) {
  return is_executable(home + "/bin/jlink") && is_executable(home + "/bin/jdeps");
}

/// The ELF machine of the program at `path`, or nullopt if it is none.
std::optional<std::uint16_t> program_machine(const std::string& path) {
  std::string error;
  const std::optional<std::vector<std::uint8_t>> head = read_file_head(path, 20, error);
  if (!head) return std::nullopt;
  return elf_machine(*head, error);
}

/// The JDK that owns the first executable `javac` on `path`, or "".
std::string jdk_of_javac_on(const std::string& path) {
  std::istringstream dirs(path);
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (dir.empty()) continue;
    const std::string javac = dir + "/javac";
    if (!is_executable(javac)) continue;
    std::error_code ec;
    // /usr/bin/javac is a chain of links into the JDK's own bin/.
    const fs::path real = fs::canonical(javac, ec);
    if (ec) continue;
    return real.parent_path().parent_path().string();
  }
  return "";
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return out;
    start = end + 1;
  }
}

/// The value of `KEY="value"` in a release file, quotes removed.
std::optional<std::string> release_value(const std::string& release_text, const std::string& key) {
  std::istringstream in(release_text);
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with(key + "=")) continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> find_host_jdk(const JdkSearch& search, std::string& error) {
  // A --jdk for another machine only lends its jmods; its tools cannot run here.
  if (!search.jdk_option.empty() && is_jdk(search.jdk_option) &&
      program_machine(search.jdk_option + "/bin/jlink") == search.host_machine) {
    return search.jdk_option;
  }
  if (search.java_home && !search.java_home->empty()) {
    if (is_jdk(*search.java_home)) return *search.java_home;
    error =
        "JAVA_HOME=" + *search.java_home +
        " is not a JDK: it has no bin/jlink and bin/jdeps. Point JAVA_HOME at a JDK, or unset it "
        "to use the JDK of the javac on PATH";
    return std::nullopt;
  }
  if (search.path) {
    const std::string home = jdk_of_javac_on(*search.path);
    if (!home.empty() && is_jdk(home)) return home;
  }
  error =
      "no JDK found: set JAVA_HOME to a JDK (17 or later), or put a JDK's javac on PATH "
      "(Debian: apt-get install openjdk-17-jdk-headless)";
  return std::nullopt;
}

std::optional<int> java_feature_version(const std::string& release_text) {
  const std::optional<std::string> version = release_value(release_text, "JAVA_VERSION");
  if (!version || version->empty()) return std::nullopt;
  int feature = 0;
  std::size_t i = 0;
  for (; i < version->size() && std::isdigit(static_cast<unsigned char>((*version)[i])); ++i) {
    feature = feature * 10 + ((*version)[i] - '0');
    if (feature > 10000) return std::nullopt;
  }
  if (i == 0) return std::nullopt;
  // Versions before 9 read "1.8.0_412"; the packer needs modules, so 9 or later.
  if (feature == 1) return std::nullopt;
  return feature;
}

std::vector<std::string> release_modules(const std::string& release_text) {
  const std::optional<std::string> modules = release_value(release_text, "MODULES");
  if (!modules || modules->empty()) return {};
  return split(*modules, ' ');
}

bool is_module_name(const std::string& name) {
  if (name.empty()) return false;
  for (const std::string& part : split(name, '.')) {
    if (part.empty() || std::isdigit(static_cast<unsigned char>(part[0]))) return false;
    for (const char c : part) {
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    }
  }
  return true;
}

std::vector<std::string> jdeps_command(const std::string& host_jdk,
                                       const std::vector<std::string>& jars, int feature_version) {
  std::vector<std::string> argv = {host_jdk + "/bin/jdeps", "--print-module-deps",
                                   // Optional dependencies a library never loads unless asked.
                                   "--ignore-missing-deps", "-q", "--multi-release",
                                   std::to_string(feature_version)};
  argv.insert(argv.end(), jars.begin(), jars.end());
  return argv;
}

std::optional<std::vector<std::string>> parse_module_deps(const std::string& output) {
  std::string last;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) last = line;
  }
  if (last.empty()) return std::vector<std::string>{};
  std::vector<std::string> modules = split(last, ',');
  if (!std::all_of(modules.begin(), modules.end(), is_module_name)) return std::nullopt;
  return modules;
}

std::optional<std::vector<std::string>> merge_modules(const std::vector<std::string>& found,
                                                      const std::vector<std::string>& add_modules,
                                                      std::string& bad) {
  std::set<std::string> all(found.begin(), found.end());
  all.insert("java.base");
  for (const std::string& value : add_modules) {
    for (const std::string& name : split(value, ',')) {
      if (!is_module_name(name)) {
        bad = value;
        return std::nullopt;
      }
      all.insert(name);
    }
  }
  return std::vector<std::string>(all.begin(), all.end());
}

std::vector<std::string> jlink_command(const std::string& host_jdk, const std::string& module_jdk,
                                       const std::vector<std::string>& modules,
                                       const std::string& output, bool with_cds_archive) {
  std::string list;
  for (const std::string& m : modules) list += (list.empty() ? "" : ",") + m;
  std::vector<std::string> argv = {
      host_jdk + "/bin/jlink", "--module-path",  module_jdk + "/jmods", "--add-modules", list,
      "--strip-debug",         "--no-man-pages", "--no-header-files"};
  // Without the archive the runtime starts with class-data sharing off,
  // about 1.5 times slower.
  if (with_cds_archive) argv.emplace_back("--generate-cds-archive");
  argv.insert(argv.end(), {"--output", output});
  return argv;
}

std::vector<std::string> base_archive_command(const std::vector<std::string>& emulator,
                                              const std::string& runtime) {
  std::vector<std::string> argv = emulator;
  argv.insert(argv.end(), {runtime + "/bin/java", "-Xshare:dump"});
  return argv;
}

}  // namespace vorlane
