// A temporary installed app tree around a burned launcher, for end-to-end tests.
#pragma once

#include <string>
#include <vector>

#include "e2e/process.h"
#include "testing/scoped_temp_dir.h"

namespace vorlane::e2e {

/// Where the suite finds what it tests, from the environment CTest sets.
struct Setup {
  std::string prefix;             ///< install prefix: lib/vorlane/{launcher,vorlane-launcher.jar}
  std::string pack;               ///< the packer to run on this machine
  std::string runtime;            ///< the Java runtime linked in as lib/runtime
  std::string probe_jar;          ///< the probe app
  std::string probe_native;       ///< the probe's JNI library
  std::string launcher_only_jar;  ///< the Java launcher class without the updater
  std::string demo_jar;           ///< the demo app
  std::vector<std::string> emulator;  ///< prefix to start target programs with (may be empty)

  /// Read once; sets XDG_STATE_HOME and XDG_CONFIG_HOME of the suite's
  /// process to a temporary folder, and unsets DISPLAY and WAYLAND_DISPLAY,
  /// for every launcher it starts.
  static const Setup& get();
  std::string template_path() const { return prefix + "/lib/vorlane/launcher"; }
  std::string launcher_jar() const { return prefix + "/lib/vorlane/vorlane-launcher.jar"; }
};

/// ROOT/NAME/{bin,lib/app,lib/runtime} in a temporary directory, with the
/// probe's jars in lib/app and the runtime linked in.
class AppTree {
 public:
  explicit AppTree(const std::string& name = "probe-app");
  const std::string& home() const { return home_; }  ///< ROOT/NAME
  std::string launcher() const { return home_ + "/bin/" + name_; }
  std::string app_dir() const { return home_ + "/lib/app"; }
  const std::string& temp_root() const { return temp_.path(); }
  /// Absolute class path of the probe and the Java launcher classes.
  std::string probe_class_path() const;

  /// Runs `vorlane-pack burn` onto bin/NAME with `args` after the template
  /// and output options.
  RunResult burn(const std::vector<std::string>& args) const;
  /// Burns the probe app: its main class, its class path, the native
  /// library's path, probe.actions set to `actions`, then `extra` options.
  void burn_probe(const std::string& actions, const std::vector<std::string>& extra = {}) const;
  /// Runs the launcher (through the emulator, if any) with `args`, and
  /// XDG_STATE_HOME and XDG_CONFIG_HOME in the tree's temporary folder
  /// (state/, config/) unless `options` set them.
  RunResult run(const std::vector<std::string>& args = {}, const RunOptions& options = {}) const;

 private:
  ScopedTempDir temp_;
  std::string name_;
  std::string home_;
};

/// Runs a program of the target (the launcher, or anything that is built for
/// it) through the emulator prefix, if one is set.
RunResult run_target(const std::vector<std::string>& argv, const RunOptions& options = {});

/// True when target programs run through an emulator. Programs they start in
/// turn fail there (the kernel cannot run the target's binaries by itself),
/// so tests whose app starts child processes skip themselves:
///   if (emulated()) GTEST_SKIP() << "starts a child process";
bool emulated();

/// The feature release (17, 21, 25, ...) of the runtime the suite tests,
/// from JAVA_VERSION in its `release` file.
int runtime_feature();

/// Runs the packer with `args`.
RunResult run_pack(const std::vector<std::string>& args, const RunOptions& options = {});

/// Where the JVM loads `class_name` from as `launcher` starts, by
/// -Xlog:class+load: "shared objects file", "shared objects file (top)" or
/// its jar's URL.
std::string class_source(const std::string& launcher, const std::string& class_name);

/// `a`, then `b`.
std::vector<std::string> joined(std::vector<std::string> a, const std::vector<std::string>& b);

/// The lines of `text`.
std::vector<std::string> lines(const std::string& text);

/// The packer's `err` without its lines on the tree's glibc floor (the
/// `glibc:` line and the note that the runtime needs a newer glibc than the
/// launcher), which every tree on a runtime built for a newer glibc gets.
std::string without_glibc_lines(const std::string& err);

/// The whole file at `path` ("" when it cannot be read).
std::string read_text(const std::string& path);

/// The names in a folder, sorted.
std::vector<std::string> entries(const std::string& dir);

}  // namespace vorlane::e2e
