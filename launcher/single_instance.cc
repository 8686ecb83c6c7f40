#include "launcher/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>

namespace vorlane {

namespace {

constexpr std::string_view kMagic = "VLS1";
constexpr char kLaunchRefused = 'R';
/// How long the primary gives one connection to deliver its message: a
/// writer that stalls holds up the next ones no longer than this, well
/// within their own wait.
constexpr int kServeTimeoutMs = 2000;

void put_u32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void put_string(std::string& out, std::string_view s) {
  put_u32(out, static_cast<std::uint32_t>(s.size()));
  out += s;
}

void put_optional(std::string& out, const std::optional<std::string>& s) {
  out += static_cast<char>(s ? 1 : 0);
  if (s) put_string(out, *s);
}

/// Reads the body front to back; any read past its end makes it fail.
class BodyReader {
 public:
  explicit BodyReader(std::string_view body) : rest_(body) {}
  bool failed() const { return failed_; }
  bool at_end() const { return rest_.empty(); }

  std::uint32_t u32() {
    if (rest_.size() < 4) return fail();
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(rest_[i]);
    rest_.remove_prefix(4);
    return value;
  }
  std::string string() {
    const std::uint32_t size = u32();
    if (failed_ || rest_.size() < size) return fail(), std::string();
    std::string s(rest_.substr(0, size));
    rest_.remove_prefix(size);
    return s;
  }
  std::optional<std::string> optional() {
    if (rest_.empty()) return fail(), std::nullopt;
    const char present = rest_.front();
    rest_.remove_prefix(1);
    if (present == 0) return std::nullopt;
    if (present != 1) return fail(), std::nullopt;
    return string();
  }
  /// Whether `count` strings could still fit: each takes at least 4 bytes.
  bool can_hold(std::uint32_t count) const { return count <= rest_.size() / 4; }

 private:
  std::uint32_t fail() {
    failed_ = true;
    return 0;
  }
  std::string_view rest_;
  bool failed_ = false;
};

std::int64_t now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

int remaining_ms(std::int64_t deadline) {
  const std::int64_t left = deadline - now_ms();
  return left > 0 ? static_cast<int>(left) : 0;
}

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

/// Closes the descriptor when it goes out of scope.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  int release() {
    const int f = fd;
    fd = -1;
    return f;
  }
};

std::string errno_text(const std::string& what) { return what + ": " + std::strerror(errno); }

/// The primary's queue of launches handed over and not yet taken.
struct LaunchQueue {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<ForwardedLaunch> launches;
};

/// Never destroyed: at exit the Java side's thread may still wait on it,
/// and destroying a condition variable that has waiters blocks for ever.
LaunchQueue& queue() {
  static auto* const q = new LaunchQueue;
  return *q;
}

bool g_primary = false;

/// The primary's listening socket, set once before its thread starts.
int g_listener = -1;

void* accept_launches(void*) {
  const int listener = g_listener;
  for (;;) {
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
      // Out of descriptors: give the app a moment to close some rather than spin.
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        poll(nullptr, 0, 50);
      }
      continue;
    }
    (void)serve_connection(fd, kServeTimeoutMs);
    close(fd);
  }
  return nullptr;
}

/// Starts the thread that accepts launches on `listener`, with every signal
/// blocked so that the JVM's handlers run on its own threads.
bool start_accepting(int listener) {
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, std::size_t{256} * 1024);
  pthread_t thread;
  g_listener = listener;
  const int error = pthread_create(&thread, &attr, accept_launches, nullptr);
  pthread_attr_destroy(&attr);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return error == 0;
}

sockaddr_un socket_address(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

/// With the lock held: replaces whatever socket file a dead primary left
/// and listens. Returns the listening socket, or -1 with errno set.
int listen_on(int dir_fd, const std::string& socket_name, const std::string& socket_path) {
  if (unlinkat(dir_fd, socket_name.c_str(), 0) != 0 && errno != ENOENT) return -1;
  Fd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (listener.fd < 0) return -1;
  const sockaddr_un address = socket_address(socket_path);
  if (bind(listener.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return -1;
  }
  if (listen(listener.fd, SOMAXCONN) != 0) return -1;
  return listener.release();
}

enum class HandOver { kTaken, kNotListening, kGone, kRefused, kTimeout, kError };

/// One attempt to hand `message` to the primary listening at `path`.
HandOver hand_over(const std::string& path, const std::string& message, std::int64_t deadline) {
  Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.fd < 0) return HandOver::kError;
  const sockaddr_un address = socket_address(path);
  if (connect(fd.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    // No socket yet, none listening, or its queue full: the primary is
    // starting, or has just died; the caller tries again.
    if (errno == ENOENT || errno == ECONNREFUSED || errno == EAGAIN) return HandOver::kNotListening;
    return HandOver::kError;
  }
  switch (write_all(fd.fd, message, deadline)) {
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
  switch (read_exact(fd.fd, &answer, 1, deadline)) {
    case Io::kOk:
      if (answer != kLaunchAck) return HandOver::kRefused;
      return write_all(fd.fd, std::string_view(&kLaunchConfirm, 1), deadline) == Io::kOk
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

InstanceClaim off(std::string why) { return {InstanceRole::kOff, std::move(why)}; }

}  // namespace

std::optional<std::string> single_instance_id(const std::vector<std::string>& options) {
  for (const std::string& option : options) {
    if (option.starts_with(kSingleInstanceOptionPrefix)) {
      return option.substr(kSingleInstanceOptionPrefix.size());
    }
  }
  return std::nullopt;
}

bool is_valid_instance_id(std::string_view id) {
  if (id.empty() || id.size() > 128 || id == "." || id == "..") return false;
  for (const char c : id) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

ForwardedLaunch this_launch(std::span<const char* const> args) {
  ForwardedLaunch launch;
  for (const char* arg : args) launch.args.emplace_back(arg);
  if (char* cwd = getcwd(nullptr, 0)) {
    launch.working_directory = cwd;
    std::free(cwd);
  }
  if (const char* token = std::getenv("XDG_ACTIVATION_TOKEN")) launch.activation_token = token;
  if (const char* startup = std::getenv("DESKTOP_STARTUP_ID")) launch.startup_id = startup;
  return launch;
}

std::string encode_launch(const ForwardedLaunch& launch) {
  std::string body;
  put_string(body, launch.working_directory);
  put_optional(body, launch.activation_token);
  put_optional(body, launch.startup_id);
  put_u32(body, static_cast<std::uint32_t>(launch.args.size()));
  for (const std::string& arg : launch.args) put_string(body, arg);
  std::string message(kMagic);
  put_u32(message, static_cast<std::uint32_t>(body.size()));
  return message + body;
}

std::optional<std::uint32_t> launch_body_size(std::string_view header) {
  if (header.size() != kLaunchHeaderSize || !header.starts_with(kMagic)) return std::nullopt;
  BodyReader reader(header.substr(kMagic.size()));
  const std::uint32_t size = reader.u32();
  if (size > kMaxLaunchMessage) return std::nullopt;
  return size;
}

std::optional<ForwardedLaunch> decode_launch_body(std::string_view body) {
  BodyReader reader(body);
  ForwardedLaunch launch;
  launch.working_directory = reader.string();
  launch.activation_token = reader.optional();
  launch.startup_id = reader.optional();
  const std::uint32_t count = reader.u32();
  if (reader.failed() || !reader.can_hold(count)) return std::nullopt;
  launch.args.reserve(count);
  for (std::uint32_t i = 0; i < count && !reader.failed(); ++i)
    launch.args.push_back(reader.string());
  if (reader.failed() || !reader.at_end()) return std::nullopt;
  return launch;
}

std::string instance_folder(const char* xdg_runtime_dir, uid_t uid) {
  if (xdg_runtime_dir != nullptr && xdg_runtime_dir[0] == '/') {
    std::string folder = xdg_runtime_dir;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder == "/" ? "/vorlane" : folder + "/vorlane";
  }
  return "/tmp/vorlane-" + std::to_string(uid);
}

std::string folder_problem(const FolderFacts& facts, uid_t uid) {
  if (facts.is_link) return "is a symbolic link";
  if (!facts.is_directory) return "is not a folder";
  if (facts.owner != uid) {
    return "belongs to user " + std::to_string(facts.owner) + ", not to " + std::to_string(uid);
  }
  if ((facts.mode & 077) != 0) {
    char octal[8];
    (void)std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(facts.mode & 07777));
    return std::string("has mode ") + octal + ": others than its owner may use it";
  }
  return "";
}

InstanceClaim claim_instance(const std::string& id, const ForwardedLaunch& launch, int timeout_ms) {
  if (!is_valid_instance_id(id)) {
    return off("the ID '" + id + "' is not 1 to 128 letters, digits, '.', '-' and '_'");
  }
  const uid_t uid = getuid();
  const std::string folder = instance_folder(std::getenv("XDG_RUNTIME_DIR"), uid);
  const std::string socket_name = id + ".sock";
  const std::string socket_path = folder + "/" + socket_name;
  if (socket_path.size() >= sizeof(sockaddr_un{}.sun_path)) {
    return off("the socket's path " + socket_path + " is too long for a socket");
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return off(errno_text(folder));
  struct stat seen {};
  if (lstat(folder.c_str(), &seen) != 0) return off(errno_text(folder));
  const FolderFacts facts{S_ISDIR(seen.st_mode), S_ISLNK(seen.st_mode), seen.st_uid, seen.st_mode};
  if (std::string problem = folder_problem(facts, uid); !problem.empty()) {
    return off(folder + " " + problem);
  }
  Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat opened {};
  if (dir.fd < 0 || fstat(dir.fd, &opened) != 0) return off(errno_text(folder));
  if (opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino) {
    return off(folder + " was replaced while it was checked");
  }
  const std::string lock_name = id + ".lock";
  Fd lock(openat(dir.fd, lock_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (lock.fd < 0) return off(errno_text(folder + "/" + lock_name));

  const std::string message = encode_launch(launch);
  const std::int64_t deadline = now_ms() + timeout_ms;
  for (;;) {
    if (flock(lock.fd, LOCK_EX | LOCK_NB) == 0) {
      const int listener = listen_on(dir.fd, socket_name, socket_path);
      if (listener < 0) return off(errno_text(socket_path));
      if (!start_accepting(listener)) {
        close(listener);
        return off("no thread could be started to listen on " + socket_path);
      }
      // Held until the process ends; the kernel releases it then, however it ends.
      (void)lock.release();
      g_primary = true;
      return {InstanceRole::kPrimary, socket_path};
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return off(errno_text(folder + "/" + lock_name));
    if (message.size() > kLaunchHeaderSize + kMaxLaunchMessage) {
      return {InstanceRole::kFailed, "its arguments are too long to hand over (" +
                                         std::to_string(message.size()) + " bytes, at most " +
                                         std::to_string(kMaxLaunchMessage) + ")"};
    }
    switch (hand_over(socket_path, message, deadline)) {
      case HandOver::kTaken:
        return {InstanceRole::kHandedOver, socket_path};
      case HandOver::kRefused:
        return {InstanceRole::kFailed, "the running instance refused the launch"};
      case HandOver::kError:
        return {InstanceRole::kFailed, errno_text(socket_path)};
      case HandOver::kTimeout:
        break;
      case HandOver::kNotListening:
      case HandOver::kGone:
        // Starting, or just died: the lock or the socket tells on the next round.
        if (remaining_ms(deadline) > 0) {
          poll(nullptr, 0, 2);
          continue;
        }
        break;
    }
    char seconds[32];
    (void)std::snprintf(seconds, sizeof seconds, "%g", timeout_ms / 1000.0);
    return {InstanceRole::kFailed,
            std::string("the running instance did not answer within ") + seconds + " s"};
  }
}

bool is_instance_primary() { return g_primary; }

ForwardedLaunch next_forwarded_launch() {
  LaunchQueue& q = queue();
  std::unique_lock lock(q.mutex);
  q.ready.wait(lock, [&q] { return !q.launches.empty(); });
  ForwardedLaunch launch = std::move(q.launches.front());
  q.launches.pop_front();
  return launch;
}

std::string serve_connection(int fd, int timeout_ms) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return errno_text("SO_PEERCRED");
  if (peer.uid != getuid()) return "a peer of user " + std::to_string(peer.uid);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return errno_text("O_NONBLOCK");
  const std::int64_t deadline = now_ms() + timeout_ms;
  const auto refuse = [fd, deadline](std::string why) {
    (void)write_all(fd, std::string_view(&kLaunchRefused, 1), deadline);
    return why;
  };
  char header[kLaunchHeaderSize];
  if (read_exact(fd, header, sizeof header, deadline) != Io::kOk) return "no whole header";
  const std::optional<std::uint32_t> body_size =
      launch_body_size(std::string_view(header, sizeof header));
  if (!body_size) return refuse("a wrong header or a body over the size bound");
  std::string body(*body_size, '\0');
  if (read_exact(fd, body.data(), body.size(), deadline) != Io::kOk) return "no whole body";
  std::optional<ForwardedLaunch> launch = decode_launch_body(body);
  if (!launch) return refuse("a malformed body");
  char confirm = 0;
  if (write_all(fd, std::string_view(&kLaunchAck, 1), deadline) != Io::kOk ||
      read_exact(fd, &confirm, 1, deadline) != Io::kOk || confirm != kLaunchConfirm) {
    return "the sender gave up";
  }
  {
    LaunchQueue& q = queue();
    const std::lock_guard lock(q.mutex);
    q.launches.push_back(std::move(*launch));
  }
  queue().ready.notify_one();
  return "";
}

}  // namespace vorlane
