// The single-instance socket: its path and listener, and the second
// launch's hand-over of its launch to the primary.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

#include "launcher/sys.h"

namespace vorlane {

/// Milliseconds on the monotonic clock, for deadlines.
std::int64_t now_ms();

/// Milliseconds left until `deadline`; 0 once it has passed.
int remaining_ms(std::int64_t deadline);

/// The user of the process at the other end of a connected Unix socket.
std::optional<uid_t> peer_uid(int fd);

/// The path to bind or connect to for `name` in the opened folder `dir`:
/// through /proc/self/fd, so the socket is in the folder that was checked
/// even if its path has been swapped for another since; the folder's own
/// path where /proc does not show it. "" when neither fits a socket address.
std::string socket_path_in(int dir, const struct stat& opened, const std::string& folder,
                           const std::string& name);

/// With the lock held: replaces whatever socket file a dead primary left
/// and listens. The listening socket, or the errno of the step that failed.
sys::SysResult<int> listen_on(int dir_fd, const std::string& socket_name,
                              const std::string& socket_path);

enum class HandOver {
  kTaken,
  kNotListening,
  kGone,
  kRefused,
  kQueueFull,
  kForeign,
  kTimeout,
  kError
};

/// One attempt to hand `message` to the primary listening at `path` before
/// `deadline` (now_ms). Sends nothing unless the socket's listener is of
/// user `uid`; `peer` gets the user it is of.
HandOver hand_over(const std::string& path, const std::string& message, std::int64_t deadline,
                   uid_t uid, uid_t& peer);

}  // namespace vorlane
