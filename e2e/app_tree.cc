#include "e2e/app_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

#include "pack/core/strings.h"
#include "pack/jdk/jdk.h"

namespace fs = std::filesystem;

namespace vorlane::e2e {

namespace {

/// KEY=value lines of the suite's configuration file; a variable
/// VORLANE_E2E_<KEY> in the environment wins over the file's line.
std::map<std::string, std::string> read_config() {
  const char* path = std::getenv("VORLANE_E2E_CONFIG");
  std::ifstream in(path != nullptr ? path : VORLANE_E2E_DEFAULT_CONFIG);
  std::map<std::string, std::string> config;
  for (std::string line; std::getline(in, line);) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) config[line.substr(0, eq)] = line.substr(eq + 1);
  }
  for (auto& [key, value] : config) {
    if (const char* override = std::getenv(("VORLANE_E2E_" + key).c_str())) value = override;
  }
  return config;
}

std::string required(const std::map<std::string, std::string>& config, const std::string& key) {
  const auto it = config.find(key);
  if (it == config.end() || it->second.empty()) {
    throw std::runtime_error("the end-to-end suite's configuration has no " + key);
  }
  return it->second;
}

}  // namespace

const Setup& Setup::get() {
  static const Setup setup = [] {
    Setup s;
    const std::map<std::string, std::string> config = read_config();
    s.prefix = required(config, "PREFIX");
    s.pack = config.contains("PACK") && !config.at("PACK").empty() ? config.at("PACK")
                                                                   : s.prefix + "/bin/vorlane-pack";
    s.runtime = required(config, "RUNTIME");
    s.probe_jar = required(config, "PROBE_JAR");
    s.probe_native = required(config, "PROBE_NATIVE");
    s.launcher_only_jar = required(config, "LAUNCHER_ONLY_JAR");
    s.demo_jar = required(config, "DEMO_JAR");
    if (config.contains("EMULATOR")) s.emulator = split_words(config.at("EMULATOR"));
    // Every launcher the suite starts keeps its state (crash and failure
    // logs) and reads its options file in a folder of the suite's, never in
    // the home of whoever runs it; a test may give folders of its own.
    static const ScopedTempDir folders;
    setenv("XDG_STATE_HOME", (folders.path() + "/state").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (folders.path() + "/config").c_str(), 1);
    // No launch sees the desktop of whoever runs the suite: the many failed
    // launches it makes would each show a dialog there. The display tests
    // give their Xvfb's.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    return s;
  }();
  return setup;
}

AppTree::AppTree(const std::string& name) : name_(name), home_(temp_.path() + "/" + name) {
  const Setup& setup = Setup::get();
  fs::create_directories(home_ + "/bin");
  fs::create_directories(home_ + "/lib/app");
  fs::create_directory_symlink(setup.runtime, home_ + "/lib/runtime");
  fs::copy_file(setup.probe_jar, app_dir() + "/probe.jar");
  fs::copy_file(setup.launcher_jar(), app_dir() + "/vorlane-launcher.jar");
}

std::string AppTree::probe_class_path() const {
  return app_dir() + "/probe.jar:" + app_dir() + "/vorlane-launcher.jar";
}

RunResult AppTree::burn(const std::vector<std::string>& args) const {
  return run_pack(
      joined({"burn", "--template", Setup::get().template_path(), "--output", launcher()}, args));
}

void AppTree::burn_probe(const std::string& actions, const std::vector<std::string>& extra) const {
  const RunResult result = burn(joined(
      {"--main-class", "probe.Probe", "--java-option", "-Djava.class.path=" + probe_class_path(),
       "--java-option", "-Dprobe.native=" + Setup::get().probe_native, "--java-option",
       "-Dprobe.actions=" + actions},
      extra));
  ASSERT_EQ(result.status, 0) << result.err;
}

RunResult AppTree::run(const std::vector<std::string>& args, const RunOptions& options) const {
  // The launcher's state (crash logs, its failure log) and the user's
  // options file are in the tree's temporary folder, not in the home of
  // whoever runs the suite.
  RunOptions with_state = options;
  with_state.env.try_emplace("XDG_STATE_HOME", temp_root() + "/state");
  with_state.env.try_emplace("XDG_CONFIG_HOME", temp_root() + "/config");
  return run_target(joined({launcher()}, args), with_state);
}

RunResult run_target(const std::vector<std::string>& argv, const RunOptions& options) {
  const Setup& setup = Setup::get();
  if (setup.emulator.empty()) return run_process(argv, options);
  std::vector<std::string> all = joined(setup.emulator, argv);
  RunOptions emulated = options;
  if (options.argv0) {
    // The emulator takes the program's argv[0] through its -0 option.
    all.insert(all.begin() + 1, {"-0", *options.argv0});
    emulated.argv0.reset();
  }
  return run_process(all, emulated);
}

bool emulated() { return !Setup::get().emulator.empty(); }

int runtime_feature() {
  static const int feature = [] {
    const std::string path = Setup::get().runtime + "/release";
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::optional<int> found = java_feature_version(text);
    if (!found) throw std::runtime_error(path + " names no JAVA_VERSION");
    return *found;
  }();
  return feature;
}

RunResult run_pack(const std::vector<std::string>& args, const RunOptions& options) {
  return run_process(joined({Setup::get().pack}, args), options);
}

std::string class_source(const std::string& launcher, const std::string& class_name) {
  RunOptions options;
  options.env["VORLANE_JVM_OPTIONS"] = "-Xlog:class+load=info";
  const RunResult r = run_target({launcher}, options);
  const std::string marker = "] " + class_name + " source: ";
  for (const std::string& line : lines(r.out)) {
    const std::size_t at = line.find(marker);
    if (at != std::string::npos) return line.substr(at + marker.size());
  }
  return "(not loaded; status " + std::to_string(r.status) + ": " + r.err + ")";
}

std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<std::string> lines(const std::string& text) { return split_lines(text); }

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string without_glibc_lines(const std::string& err) {
  std::string out;
  for (const std::string& line : lines(err)) {
    if (line.starts_with("vorlane-pack: glibc: ") ||
        (line.starts_with("vorlane-pack: note: ") &&
         line.find(" needs glibc ") != std::string::npos)) {
      continue;
    }
    out += line + "\n";
  }
  return out;
}

}  // namespace vorlane::e2e
