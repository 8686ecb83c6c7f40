// Finding the JDK whose tools the packer runs, and the command lines of
// those tools: jdeps for the modules an app needs, jlink for its runtime.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/java_release.h"
#include "pack/core/error.h"

namespace vorlane {

/// Where to look for a JDK, as the command line and the environment give it.
struct JdkSearch {
  std::string jdk_option;                ///< --jdk; empty when not given
  std::optional<std::string> java_home;  ///< JAVA_HOME, when set
  std::optional<std::string> path;       ///< PATH, when set
  std::uint16_t host_machine = 0;        ///< ELF machine of this host
};

/// The home of the JDK whose jlink and jdeps run on this machine: --jdk when
/// it is a JDK built for this machine, else JAVA_HOME, else the JDK that owns
/// the first `javac` on PATH (links resolved). A JDK is a directory with
/// bin/jlink and bin/jdeps. Refuses with a sentence for the user.
Result<std::string> find_host_jdk(const JdkSearch& search);

/// A JDK or a Java runtime, as the packer uses it.
struct Jdk {
  std::string home;
  /// The ELF machine of its lib/server/libjvm.so; 0 when that is missing or
  /// no ELF file, and then `machine_error` says why.
  std::uint16_t machine = 0;
  std::string machine_error;
  /// 17 for 17.0.15, from its `release` file; 0 when that does not say.
  int feature_version = 0;
  /// Whether it has jmods/, from which jlink makes runtimes.
  bool has_jmods = false;
  /// JAVA_VERSION of its `release` file ("25.0.3"); empty when that does not say.
  std::string java_version;
  /// Whether its jlink links from its own run-time image (JDKs without
  /// jmods/, 24 and later): it can then make a runtime for this machine
  /// only. Not read by describe_jdk: it takes a run of jlink --help.
  bool links_from_runtime_image = false;

  std::string java() const { return home + "/bin/java"; }
  std::string jlink() const { return home + "/bin/jlink"; }
  std::string jdeps() const { return home + "/bin/jdeps"; }
  std::string jmods() const { return home + "/jmods"; }
  std::string libjvm() const { return home + "/lib/server/libjvm.so"; }
};

/// What is at `home`, read from its files; never fails: what is missing is
/// left at its empty value.
Jdk describe_jdk(const std::string& home);

/// jlink asking what it can do; its output goes to links_from_runtime_image().
std::vector<std::string> jlink_help_command(const Jdk& jdk);

/// Whether jlink's --help output says it links from the run-time image
/// (under "Capabilities:", "Linking from run-time image enabled").
bool links_from_runtime_image(const std::string& help_output);

// A release file's JAVA_VERSION and its numbers are read as the feed writer reads them.
using formats::JavaVersion;
using formats::parse_java_version;
using formats::release_java_version;

/// The feature version (17 for "17.0.15") in the text of a JDK's or a
/// runtime's `release` file, or nullopt.
std::optional<int> java_feature_version(const std::string& release_text);

/// The MODULES line of a `release` file, split; empty when there is none.
std::vector<std::string> release_modules(const std::string& release_text);

/// Whether `name` is a module name: identifiers joined by dots.
bool is_module_name(const std::string& name);

/// jdeps asking which system modules `jars` need, with jars of several
/// releases read as of `feature_version` (0: their plain entries). With
/// `module_path`, the jars are on jdeps' module path too, where a modular
/// jar finds the automatic modules it requires.
std::vector<std::string> jdeps_command(const Jdk& host, const std::vector<std::string>& jars,
                                       int feature_version, bool module_path = false);

/// The module list jdeps printed on its last line ("java.base,java.sql"),
/// or nullopt when that line is no such list.
std::optional<std::vector<std::string>> parse_module_deps(const std::string& output);

/// The modules of the runtime: java.base, those found and those of each
/// `--add-modules` value (comma-separated), sorted, without repeats. Returns
/// nullopt and the offending text in `bad` when a value holds no module name.
std::optional<std::vector<std::string>> merge_modules(const std::vector<std::string>& found,
                                                      const std::vector<std::string>& add_modules,
                                                      std::string& bad);

/// jlink making a runtime of `modules` from `module_jdk`'s jmods at `output`
/// (or from its own run-time image when it has no jmods/: then `host` is
/// that JDK), without debug data, man pages and headers; with the default
/// class-data-sharing archive when `with_cds_archive`.
std::vector<std::string> jlink_command(const Jdk& host, const Jdk& module_jdk,
                                       const std::vector<std::string>& modules,
                                       const std::string& output, bool with_cds_archive);

/// The runtime's own java writing its default class-data-sharing archive
/// (lib/server/classes.jsa), through `emulator` when it is not empty.
std::vector<std::string> base_archive_command(const std::vector<std::string>& emulator,
                                              const std::string& runtime);

}  // namespace vorlane
