// Thin wrappers over the system calls the launcher makes before the JVM
// exists. Each hands errno back to its caller instead of reporting it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vorlane::sys {

/// The outcome of a call: a value, or the errno it failed with.
template <typename T>
struct SysResult {
  T value{};
  int error = 0;
  bool ok() const { return error == 0; }
};

/// The target of the link `path`, read into a buffer of `buffer_size` bytes
/// (so a value of exactly `buffer_size` bytes may have been cut short).
SysResult<std::string> read_link(const char* path, std::size_t buffer_size);

/// The canonical absolute form of `path` (links, "." and ".." resolved).
SysResult<std::string> real_path(const std::string& path);

/// The names in directory `path`, in the order the system lists them, "."
/// and ".." included. A read error ends the listing with what was read.
SysResult<std::vector<std::string>> list_directory(const std::string& path);

/// Whether `path` names a regular file, symbolic links followed; false when
/// it cannot be examined.
bool is_regular_file(const std::string& path);

/// Opens /dev/null on each of the standard streams 0, 1 and 2 that is
/// closed, and leaves the open ones alone. Returns 0, or the errno of an open
/// that failed.
int open_closed_standard_streams();

}  // namespace vorlane::sys
