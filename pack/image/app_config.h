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

/// The options that name the app archive and keep the JVM quiet when the
/// archive cannot be used (the tree moved, a jar changed): JDK 17 prints a
/// warning on the app's standard output then, and goes on without it.
std::vector<std::string> archive_options();

/// The launcher's JVM options for an app: its class path, `-Dapp.dir=&&`,
/// the archive options when `with_archive`, then the packager's own.
std::vector<std::string> app_jvm_options(const std::string& class_path, bool with_archive,
                                         const std::vector<std::string>& user_options);

/// `options` with the archive options removed, and put back right after
/// `-Dapp.dir=&&` (before the packager's own, which may override the
/// logging) when `with_archive`.
std::vector<std::string> set_archive_options(std::vector<std::string> options, bool with_archive);

/// The file name extension of the image that starts with `head` (its first
/// 8 bytes or fewer): "png", "gif" or "jpg", the formats the runtime's splash
/// library reads (it reads no BMP); "" for anything else.
std::string splash_image_extension(std::string_view head);

/// N when the file name `sibling` is NAME@<N>x.EXT for the splash image's
/// name `image` (NAME.EXT), N a whole number above 1: the variant the
/// launcher shows on a screen scaled N times. 0 for any other name.
int splash_scale_of(std::string_view image, std::string_view sibling);

/// The option that makes a training run write the archive to `path`
/// (relative to lib/app).
std::string archive_at_exit_option(const std::string& path);

/// What `lib/vorlane-app.conf` records: the launcher's name, so `vorlane-pack
/// cds` finds it; the training arguments, so it can repeat the run; and
/// every path the packer made in the tree, so that making it again replaces
/// those and nothing a user added. Values are escaped to one line each.
struct AppMarker {
  std::string name;
  std::vector<std::string> training_args;
  /// Relative to the tree; empty in markers of packers that did not record them.
  std::vector<std::string> made;
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
