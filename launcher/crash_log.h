// Crash logs where they belong: a JVM that crashes writes hs_err_pidN.log
// into its working folder, which for a menu launch is the user's home. The
// launcher points it at the app's state folder instead, unless the launch
// data or the user chose a place with -XX:ErrorFile.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane {

inline constexpr std::string_view kErrorFilePrefix = "-XX:ErrorFile=";

/// The option that sends the JVM's crash log to STATE_DIR/hs_err_pid%p.log,
/// or nullopt when one of `options` already sets -XX:ErrorFile (the last
/// one counts for the JVM, so any one means a choice was made). A '%' in the
/// folder's path is doubled, as the JVM reads "%p" and "%%" in the name.
std::optional<std::string> crash_log_option(const std::vector<std::string>& options,
                                            std::string_view state_dir);

/// The file the JVM of process `pid` writes its crash log to, given the
/// option crash_log_option made for `state_dir`.
std::string crash_log_path(std::string_view state_dir, long pid);

/// How a JVM ended while it was being created, through its exit or abort
/// hook, before the launcher could report anything itself.
struct StartEnd {
  bool aborted = false;  ///< the abort hook (a crash, or an error that stops the JVM)
  int status = 0;        ///< the exit hook's status, when not aborted
};

/// The failure report for a JVM that ended as it started: what happened,
/// the crash log when `crash_log` (empty: none) was written, and, after an
/// empty line, what the JVM printed as it started (`said`, may be empty).
std::string start_end_report(StartEnd end, std::string_view crash_log, std::string_view said);

}  // namespace vorlane
