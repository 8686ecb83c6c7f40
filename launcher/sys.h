// Thin wrappers over the system calls the launcher makes before the JVM
// exists. Each hands errno back to its caller instead of reporting it.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane::sys {

/// The outcome of a call: a value, or the errno it failed with.
template <typename T>
struct SysResult {
  T value{};
  int error = 0;
  bool ok() const { return error == 0; }
};

/// A descriptor closed when it goes out of scope; -1 holds none.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~Fd() { reset(-1); }
  int get() const { return fd_; }
  /// Closes the descriptor held, if any, and holds `fd` instead.
  void reset(int fd);
  /// Gives up the descriptor without closing it.
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
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

/// Writes all of `bytes` to `fd`, again after interruptions; gives up
/// silently on an error (for output that has nowhere else to go).
void write_all(int fd, std::string_view bytes);

/// The contents of the regular file at `path`, if it has at most `cap`
/// bytes; EFBIG when it has more, EINVAL when it is no regular file.
SysResult<std::string> read_small_file(const std::string& path, std::size_t cap);

/// Whether `path` names a folder, symbolic links followed.
bool is_directory(const std::string& path);

/// Whether the descriptor `fd` is a terminal.
bool is_terminal(int fd);

/// Whether `path` names a regular file this process may execute.
bool is_executable_file(const std::string& path);

/// Makes the folder `path` and each missing folder above it, mode 0700.
/// Returns 0 when `path` then is a folder (no link) of this user, else an
/// errno value (ENOTDIR, EPERM for another user's).
int make_private_dirs(const std::string& path);

/// Appends `entry` to the file `name` in the folder `dir`, made with mode
/// 0600 if missing. When `start_over(size)` holds for the file's size, it is
/// first renamed to `name`.1 (replacing that) and a new one begun. A link
/// or anything but a regular file at `name` is never written through.
/// Returns 0, or the errno of the step that failed.
int append_to_log(const std::string& dir, const std::string& name, const std::string& entry,
                  const std::function<bool(std::size_t)>& start_over);

/// The current time in UTC, as "2026-01-31T12:00:00Z".
std::string utc_time_text();

/// Starts `argv[0]` with `argv` and this environment, in a process group
/// of its own, with /dev/null as its standard streams (so it holds no pipe
/// of the launcher's caller open) and default signal handling, and does not
/// wait for it. Returns 0, or the errno of the failed start.
int spawn_detached(const std::vector<std::string>& argv);

}  // namespace vorlane::sys
