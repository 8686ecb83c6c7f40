// What an app tree's launcher is burned with: the app's name, its class
// path and the option that names its folder.
#pragma once

#include <string>
#include <vector>

namespace vorlane {

/// The Java side of the launcher, which the packer puts in every lib/app/.
inline constexpr char kLauncherJarName[] = "vorlane-launcher.jar";
/// The update library `vorlane-pack app --updates` adds to lib/app/, built beside the launcher's.
inline constexpr char kUpdaterJarName[] = "vorlane-updater.jar";
/// The option that gives the app its folder; the launcher's options start
/// with the class path, then this one.
inline constexpr char kAppDirOption[] = "-Dapp.dir=&&";

/// Why `name` cannot name an app (the launcher's file name and the tree's
/// folder), or "" when it can.
std::string check_app_name(const std::string& name);

/// Why the jar at `relative` (a path inside lib/app) cannot stand on the
/// class path the launcher expands, or "" when it can.
std::string check_class_path_element(const std::string& relative);

/// `-Djava.class.path=` with each jar as `&&/jar`: `main_jar` first (when
/// not empty), then the others in byte order, then the launcher's jar, then
/// the updater's when `updater`. The order never depends on the order of
/// `jars`, so archives made from it stay valid for a tree made again from
/// the same jars.
std::string class_path_option(std::vector<std::string> jars, const std::string& main_jar,
                              bool updater = false);

}  // namespace vorlane
