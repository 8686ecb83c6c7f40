#include "launcher/instance_socket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "formats/launch_message.h"

namespace vorlane {

using formats::kLaunchAck;
using formats::kLaunchConfirm;
using formats::kLaunchQueueFull;

namespace {

enum class Io { kOk, kEnd, kTimeout, kError };

/// Waits until `fd` is ready for `events` or the deadline passes.
Io wait_for(int fd, short events, std::int64_t deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, remaining_ms(deadline));
    if (n > 0) return Io::kOk;
    if (n == 0) return Io::kTimeout;
    if (errno != EINTR) return Io::kError;
  }
}

/// Reads exactly `size` bytes from the non-blocking `fd` before the deadline.
Io read_exact(int fd, char* data, std::size_t size, std::int64_t deadline) {
  while (size > 0) {
    const ssize_t n = read(fd, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
    } else if (n == 0) {
      return Io::kEnd;
    } else if (errno == EAGAIN) {
      if (Io waited = wait_for(fd, POLLIN, deadline); waited != Io::kOk) return waited;
    } else if (errno != EINTR) {
      return Io::kError;
    }
  }
  return Io::kOk;
}

/// Writes all of `data` to the non-blocking `fd` before the deadline.
Io write_all(int fd, std::string_view data, std::int64_t deadline) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n >= 0) {
      data.remove_prefix(static_cast<std::size_t>(n));
    } else if (errno == EAGAIN) {
      if (Io waited = wait_for(fd, POLLOUT, deadline); waited != Io::kOk) return waited;
    } else if (errno != EINTR) {
      return errno == EPIPE || errno == ECONNRESET ? Io::kEnd : Io::kError;
    }
  }
  return Io::kOk;
}

sockaddr_un socket_address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

}  // namespace

std::int64_t now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

int remaining_ms(std::int64_t deadline) {
  const std::int64_t left = deadline - now_ms();
  return left > 0 ? static_cast<int>(left) : 0;
}

std::optional<uid_t> peer_uid(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return std::nullopt;
  return peer.uid;
}

std::string socket_path_in(int dir, const struct stat& opened, const std::string& folder,
                           const std::string& name) {
  const std::string via_fd = "/proc/self/fd/" + std::to_string(dir);
  struct stat seen {};
  const bool proc_shows_it = stat(via_fd.c_str(), &seen) == 0 && seen.st_dev == opened.st_dev &&
                             seen.st_ino == opened.st_ino;
  constexpr std::size_t kMaxPath = sizeof(sockaddr_un{}.sun_path) - 1;
  if (proc_shows_it && via_fd.size() + 1 + name.size() <= kMaxPath) return via_fd + "/" + name;
  if (folder.size() + 1 + name.size() <= kMaxPath) return folder + "/" + name;
  return "";
}

sys::SysResult<int> listen_on(int dir_fd, const std::string& socket_name,
                              const std::string& socket_path) {
  if (unlinkat(dir_fd, socket_name.c_str(), 0) != 0 && errno != ENOENT) return {-1, errno};
  sys::Fd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (listener.get() < 0) return {-1, errno};
  const sockaddr_un address = socket_address(socket_path);
  if (bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return {-1, errno};
  }
  if (listen(listener.get(), SOMAXCONN) != 0) return {-1, errno};
  return {listener.release()};
}

HandOver hand_over(const std::string& path, const std::string& message, std::int64_t deadline,
                   uid_t uid, uid_t& peer) {
  sys::Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.get() < 0) return HandOver::kError;
  const sockaddr_un address = socket_address(path);
  if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    // No socket yet, none listening, or its queue full: the primary is
    // starting, or has just died; the caller tries again.
    if (errno == ENOENT || errno == ECONNREFUSED || errno == EAGAIN) return HandOver::kNotListening;
    return HandOver::kError;
  }
  // Arguments, folder and token are for this user's primary alone: a
  // socket another user put in the way gets none of them.
  const std::optional<uid_t> listener = peer_uid(fd.get());
  if (!listener) return HandOver::kError;
  peer = *listener;
  if (*listener != uid) return HandOver::kForeign;
  switch (write_all(fd.get(), message, deadline)) {
    case Io::kOk:
      break;
    case Io::kEnd:
      return HandOver::kGone;
    case Io::kTimeout:
      return HandOver::kTimeout;
    case Io::kError:
      return HandOver::kError;
  }
  char answer = 0;
  switch (read_exact(fd.get(), &answer, 1, deadline)) {
    case Io::kOk:
      if (answer == kLaunchQueueFull) return HandOver::kQueueFull;
      if (answer != kLaunchAck) return HandOver::kRefused;
      return write_all(fd.get(), std::string_view(&kLaunchConfirm, 1), deadline) == Io::kOk
                 ? HandOver::kTaken
                 : HandOver::kGone;
    case Io::kEnd:
      return HandOver::kGone;
    case Io::kTimeout:
      return HandOver::kTimeout;
    case Io::kError:
      return HandOver::kGone;
  }
  return HandOver::kError;
}

}  // namespace vorlane
