// Finding the installed app's directory from the executable's own path.
#pragma once

#include <string>
#include <string_view>

namespace vorlane {

/// Size of the buffer the executable's path is read into; a path must be
/// shorter than this.
inline constexpr std::size_t kExePathBufferSize = 2048;
inline constexpr const char kExePathTooLong[] =
    "Insufficient buffer space to read the current path, try placing the app in a directory "
    "nearer the root.";

/// The directory holding the executable at `exe_path` (cut at its last '/')
/// followed by "/../lib/app/": /opt/demo/bin/demo gives
/// /opt/demo/bin/../lib/app/. A path without '/' counts as in ".".
std::string app_dir_candidate(std::string_view exe_path);

/// The folder the app's Java runtime belongs in, beside the app directory
/// `app_dir` (lib/app, with or without a final '/'): /opt/demo/lib/app
/// gives /opt/demo/lib/runtime.
std::string runtime_dir(std::string_view app_dir);

/// The app directory of this process: the canonical form of the candidate
/// for /proc/self/exe, or the candidate itself when it cannot be
/// canonicalised. Ends the process when the executable's path cannot be read
/// or does not fit the buffer.
std::string resolve_app_dir();

}  // namespace vorlane
