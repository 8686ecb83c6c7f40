// What an app tree's launcher is burned with, and the other decisions of
// `vorlane-pack app` and `vorlane-pack cds` that need no file system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane {

/// The Java side of the launcher, which the packer puts in every lib/app/.
inline constexpr char kLauncherJarName[] = "vorlane-launcher.jar";
/// The app's class-data archive in lib/app/, made by a training run.
inline constexpr char kAppArchiveName[] = "vorlane-app.jsa";
/// The file in lib/ that marks a tree as made by `vorlane-pack app`.
inline constexpr char kMarkerName[] = "vorlane-app.conf";

/// Why `name` cannot name an app (the launcher's file name and the tree's
/// folder), or "" when it can.
std::string check_app_name(const std::string& name);

/// Why the jar at `relative` (a path inside lib/app) cannot stand on the
/// class path the launcher expands, or "" when it can.
std::string check_class_path_element(const std::string& relative);

/// `-Djava.class.path=` with each jar as `&&/jar`: `main_jar` first (when
/// not empty), then the others in byte order, then the launcher's jar. The
/// order never depends on the order of `jars`, so archives made from it
/// stay valid for a tree made again from the same jars.
std::string class_path_option(std::vector<std::string> jars, const std::string& main_jar);

/// The kinds of app class-data archive, each the fastest that never runs a
/// stale class on the runtimes it is made for (docs/class-data-archives.md).
enum class ArchiveKind {
  kDynamic,       ///< -XX:ArchiveClassesAtExit; 17 to 24
  kStaticLinked,  ///< -Xshare:dump -XX:+AOTClassLinking from a class list; 25.0.0 to 25.0.3
  kAotCache,      ///< the ahead-of-time cache, recorded then created; 25.0.4 and later
};

/// The kind for a runtime whose `release` says JAVA_VERSION=`java_version`
/// ("25.0.3", "17.0.15", "25"); nullopt when that is no version. The cache
/// of 25.0.0 to 25.0.3 does not check its jars, so those get a static archive.
std::optional<ArchiveKind> archive_kind_for(const std::string& java_version);

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

/// The options of the runs that make an archive of `kind` in lib/app, to
/// `file` (relative to lib/app): one run per entry, in order; each run's
/// launcher is burned with the block's options without the archive options,
/// plus these.
std::vector<std::vector<std::string>> archive_making_runs(ArchiveKind kind,
                                                          const std::string& file);

/// The file name extension of the image that starts with `head` (its first
/// 8 bytes or fewer): "png", "gif" or "jpg", the formats the runtime's splash
/// library reads (it reads no BMP); "" for anything else.
std::string splash_image_extension(std::string_view head);

/// N when the file name `sibling` is NAME@<N>x.EXT for the splash image's
/// name `image` (NAME.EXT), N a whole number above 1: the variant the
/// launcher shows on a screen scaled N times. 0 for any other name.
int splash_scale_of(std::string_view image, std::string_view sibling);

/// What `lib/vorlane-app.conf` records: the launcher's name, so `vorlane-pack
/// cds` finds it; the training arguments, so it can repeat the run; and
/// every path the packer made in the tree, so that making it again replaces
/// those and nothing a user added. Values are escaped to one line each.
struct AppMarker {
  std::string name;
  std::vector<std::string> training_args;
  /// Relative to the tree; empty in markers of packers that did not record them.
  std::vector<std::string> made;
  /// The kind of app archive the tree has; none when made without one (or
  /// by a packer that did not record it).
  std::optional<ArchiveKind> archive;
};

std::string format_marker(const AppMarker& marker);
/// Reads a marker; nullopt and the reason when it names no launcher.
std::optional<AppMarker> parse_marker(const std::string& text, std::string& error);

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
