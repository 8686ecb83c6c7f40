// The app's class-data archive: which kind a runtime gets, its files, the
// options that name it or would break it, the runs that make it, and which
// of those runs can run on this machine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/archive_policy.h"
#include "pack/image/app_config.h"

namespace vorlane {

/// The app's class-data archive in lib/app/ (the dynamic and the static kind).
inline constexpr char kAppArchiveName[] = "vorlane-app.jsa";
/// The class list in lib/app/ from which a static archive is dumped.
inline constexpr char kClassListName[] = "vorlane-app.classlist";

// The kinds, and which a runtime gets, are decided with the rest of the
// archive policy in formats/archive_policy.h.
using formats::archive_kind_for;
using formats::ArchiveKind;

/// The marker's name of a kind ("dynamic", "static-linked", "aot-cache"), and back.
std::string archive_kind_name(ArchiveKind kind);
std::optional<ArchiveKind> parse_archive_kind(const std::string& name);

/// The archive's file in lib/app: vorlane-app.jsa, or vorlane-app.aot for the cache.
std::string archive_file_name(ArchiveKind kind);
/// The other files the making runs write in lib/app (the class list, the
/// cache's configuration), removed after them.
std::string archive_work_file_name(ArchiveKind kind);
/// Every file name in lib/app an archive of any kind may leave.
std::vector<std::string> all_archive_file_names();

/// The name a making run writes `file` under before it replaces the old one
/// ("vorlane-app.new.aot"): the JVM may want the extension kept.
std::string archive_temp_name(const std::string& file);

/// Which archive a launcher names: the kind and the runtime's feature version.
struct ArchiveChoice {
  ArchiveKind kind = ArchiveKind::kDynamic;
  int feature_version = 0;
};

/// The newest feature release the archive kinds were tried on. A newer one
/// is not refused: it gets the kind of this one, with a note.
inline constexpr int kNewestTestedJava = 27;

/// What the packer says about the archive of `choice` for a runtime whose
/// `release` says JAVA_VERSION=`java_version`, when a user's
/// VORLANE_JVM_OPTIONS may hold what the prefixes in `allowed_options`
/// (--allow-java-option) let through: that the release is newer than
/// `kNewestTestedJava`; that a user's -XX:+UseZGC sets a cache or static
/// archive aside (it keeps the compressed-oops mode it was made in). Notes,
/// never refusals; empty when there is nothing to say.
std::vector<std::string> archive_notes(const ArchiveChoice& choice, const std::string& java_version,
                                       const std::vector<std::string>& allowed_options);

/// The option that keeps the JVM quiet when the archive cannot be used (the
/// tree moved, a jar changed): 24 and later print such warnings and errors
/// on the app's standard output. `aot*=off,cds*=off` on 24 and later; older
/// runtimes know no `aot` tag and would stop on it.
std::string quiet_archive_option(int feature_version);

/// The options that name the app archive and keep the JVM quiet about it.
std::vector<std::string> archive_options(const ArchiveChoice& choice);

/// The launcher's JVM options for an app: its class path, `-Dapp.dir=&&`,
/// the archive options when there is `archive`, then the packager's own.
std::vector<std::string> app_jvm_options(const std::string& class_path,
                                         const std::optional<ArchiveChoice>& archive,
                                         const std::vector<std::string>& user_options);

/// `options` with the archive options of every kind removed, and those of
/// `archive` put back right after `-Dapp.dir=&&` (before the packager's own,
/// which may override the logging) when there is one.
std::vector<std::string> set_archive_options(std::vector<std::string> options,
                                             const std::optional<ArchiveChoice>& archive);

/// The first of `options` that stops the VM, or makes it write or pick
/// another archive, when the launcher names an app archive (-Xshare:*,
/// -XX:SharedArchiveFile, -XX:AOTCache, -XX:AOTMode, ...); "" when none.
std::string archive_breaking_option(const std::vector<std::string>& options);

/// One run that makes an archive. A run that records what the app loads goes
/// through a copy of the app's launcher, burned with the block's options
/// without the archive options plus `options`, and runs main with the
/// training arguments. A run that writes the archive from that record runs
/// no main: it is the runtime's own bin/java with the block's options
/// expanded as the launcher expands them, plus `options`, so that the
/// archive holds the classes whatever main would do in such a run.
struct ArchiveRun {
  std::vector<std::string> options;
  bool runs_main = true;
};

/// The run that lists the classes the app loads in lib/app/`file`, from
/// which a static archive is dumped: the static kind's first run, and the
/// list a package of a runtime before 20 dumps its archive from at install.
ArchiveRun class_list_run(const std::string& file);

/// The runs that make the archive `choice` in lib/app, to `file` (relative
/// to lib/app), in order. On 26 the cache is made without ahead-of-time
/// class linking: with it, Debian's 26.0.2 stopped a real app (Maven,
/// started through the launcher) at start-up with "Unexpected exception
/// when loading aot-linked classes", where 25 and 27 ran it.
std::vector<ArchiveRun> archive_making_runs(const ArchiveChoice& choice, const std::string& file);

/// The options of a run that runs no main, before expansion: `block_options`
/// without the archive options and the splash option (the launcher shows
/// the image itself), then `run_options`.
std::vector<std::string> runtime_java_options(std::vector<std::string> block_options,
                                              const std::vector<std::string>& run_options);

/// Which class-data-sharing steps can run for a tree whose launcher is
/// built for `target_machine` on a packer running on `host_machine`.
struct CdsPlan {
  /// The runtime's default archive is made (it is needed: `need_base_archive`).
  bool base_archive = false;
  /// The training run for the app archive runs.
  bool training_run = false;
  /// Both run through the emulator, the launcher being for another machine.
  bool emulated = false;
  /// Why a step is skipped, for standard error; "" when none is.
  std::string note;
};

CdsPlan plan_cds(std::uint16_t host_machine, std::uint16_t target_machine, bool have_emulator,
                 bool need_base_archive, bool want_app_archive);

}  // namespace vorlane
