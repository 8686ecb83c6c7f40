#include "pack/jdk/jdk.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iterator>
#include <set>

#include "pack/core/elf_section.h"
#include "pack/core/files.h"
#include "pack/core/strings.h"

namespace fs = std::filesystem;

namespace vorlane {

namespace {

bool is_executable(const std::string& path) {
  std::error_code ec;  // a name too long or a loop of links: not there
  return fs::is_regular_file(path, ec) && access(path.c_str(), X_OK) == 0;
}

bool is_jdk(const std::string& home) {
  return is_executable(home + "/bin/jlink") && is_executable(home + "/bin/jdeps");
}

/// The JDK that owns the first executable `javac` on `path`, or "".
std::string jdk_of_javac_on(const std::string& path) {
  for (const std::string& dir : split(path, ':')) {
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

using formats::release_value;

}  // namespace

Result<std::string> find_host_jdk(const JdkSearch& search) {
  // A --jdk for another machine only lends its jmods; its tools cannot run here.
  if (!search.jdk_option.empty() && is_jdk(search.jdk_option)) {
    const Result<std::uint16_t> machine = elf_machine_of_file(search.jdk_option + "/bin/jlink");
    if (machine && *machine == search.host_machine) return search.jdk_option;
  }
  if (search.java_home && !search.java_home->empty()) {
    if (is_jdk(*search.java_home)) return *search.java_home;
    return bad_input(
        "JAVA_HOME=" + *search.java_home +
        " is not a JDK: it has no bin/jlink and bin/jdeps. Point JAVA_HOME at a JDK, or unset it "
        "to use the JDK of the javac on PATH");
  }
  if (search.path) {
    const std::string home = jdk_of_javac_on(*search.path);
    if (!home.empty() && is_jdk(home)) return home;
  }
  return bad_input(
      "no JDK found: set JAVA_HOME to a JDK (17 or later), or put a JDK's javac on PATH "
      "(Debian: apt-get install openjdk-17-jdk-headless)");
}

Jdk describe_jdk(const std::string& home) {
  Jdk jdk;
  jdk.home = home;
  std::error_code ec;  // a name too long or a loop of links: not there
  jdk.has_jmods = fs::is_regular_file(jdk.jmods() + "/java.base.jmod", ec);
  if (!fs::is_regular_file(jdk.libjvm(), ec)) {
    jdk.machine_error = home + " has no lib/server/libjvm.so";
  } else if (Result<std::uint16_t> machine = elf_machine_of_file(jdk.libjvm())) {
    jdk.machine = *machine;
  } else {
    jdk.machine_error = machine.error().message;
  }
  if (Result<std::vector<std::uint8_t>> release = read_file_no_fifo(home + "/release")) {
    const std::string text(release->begin(), release->end());
    jdk.feature_version = java_feature_version(text).value_or(0);
    jdk.java_version = release_java_version(text);
  }
  return jdk;
}

std::vector<std::string> jlink_help_command(const Jdk& jdk) { return {jdk.jlink(), "--help"}; }

bool links_from_runtime_image(const std::string& help_output) {
  // "Capabilities:" on a line of its own, the capabilities on the next lines.
  const std::size_t capabilities = help_output.find("Capabilities:");
  return capabilities != std::string::npos &&
         help_output.find("Linking from run-time image enabled", capabilities) != std::string::npos;
}

std::optional<int> java_feature_version(const std::string& release_text) {
  const std::optional<JavaVersion> version =
      parse_java_version(release_value(release_text, "JAVA_VERSION").value_or(""));
  if (!version) return std::nullopt;
  return version->feature;
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

std::vector<std::string> jdeps_command(const Jdk& host, const std::vector<std::string>& jars,
                                       int feature_version, bool module_path) {
  std::vector<std::string> argv = {
      host.jdeps(), "--print-module-deps",
      // Optional dependencies a library never loads unless asked.
      "--ignore-missing-deps", "-q", "--multi-release",
      feature_version > 0 ? std::to_string(feature_version) : std::string("base")};
  if (module_path) {
    std::vector<std::string> listed;
    // A path with the separator in it cannot be listed; such a jar is left off.
    std::copy_if(jars.begin(), jars.end(), std::back_inserter(listed),
                 [](const std::string& jar) { return jar.find(':') == std::string::npos; });
    argv.insert(argv.end(), {"--module-path", join(listed, ":")});
  }
  argv.insert(argv.end(), jars.begin(), jars.end());
  return argv;
}

std::optional<std::vector<std::string>> parse_module_deps(const std::string& output) {
  std::string last;
  for (std::string line : split_lines(output)) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
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

std::vector<std::string> jlink_command(const Jdk& host, const Jdk& module_jdk,
                                       const std::vector<std::string>& modules,
                                       const std::string& output, bool with_cds_archive) {
  std::vector<std::string> argv = {host.jlink()};
  // Without jmods/, jlink takes the modules from its own run-time image.
  if (module_jdk.has_jmods) argv.insert(argv.end(), {"--module-path", module_jdk.jmods()});
  argv.insert(argv.end(), {"--add-modules", join(modules, ","), "--strip-debug", "--no-man-pages",
                           "--no-header-files"});
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
