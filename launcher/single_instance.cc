#include "launcher/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

namespace vorlane {

namespace {

constexpr std::string_view kMagic = "VLS1";
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
  Fd(Fd&& other) noexcept : fd(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      if (fd >= 0) close(fd);
      fd = other.release();
    }
    return *this;
  }
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

std::string octal_mode(mode_t mode) {
  char octal[8];
  (void)std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
  return octal;
}

/// Never destroyed: at exit the Java side's thread may still wait on it,
/// and destroying a condition variable that has waiters blocks for ever.
LaunchQueue& queue() {
  static auto* const q = new LaunchQueue(kMaxQueuedLaunches, kMaxQueuedBytes);
  return *q;
}

bool g_primary = false;

/// The user of the process at the other end of a connected Unix socket.
std::optional<uid_t> peer_uid(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return std::nullopt;
  return peer.uid;
}

/// One connection the primary serves: the header, the body, the answer and
/// the sender's confirmation, all before its own deadline.
struct Connection {
  enum class Stage { kHeader, kBody, kConfirm };
  Connection(Fd accepted, std::int64_t until) : fd(std::move(accepted)), deadline(until) {}
  Fd fd;
  std::int64_t deadline;
  Stage stage = Stage::kHeader;
  std::string bytes;  ///< what has come of the current stage
  std::size_t want = kLaunchHeaderSize;
  std::optional<ForwardedLaunch> launch;
  std::size_t reserved = 0;  ///< room held in the queue once acknowledged
  bool done = false;
};

/// Sends the one-byte answer; the socket's buffer is empty, so it never waits.
bool answer(const Connection& c, char byte) {
  return send(c.fd.fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1;
}

/// Acts on a stage whose bytes are all there: moves on to the next one, or
/// finishes the connection (answered, refused or queued).
void complete_stage(Connection& c, LaunchQueue& launches) {
  switch (c.stage) {
    case Connection::Stage::kHeader: {
      const std::optional<std::uint32_t> size = launch_body_size(c.bytes);
      if (!size) {
        (void)answer(c, kLaunchRefused);
        c.done = true;
        return;
      }
      c.stage = Connection::Stage::kBody;
      c.want = *size;
      c.bytes.clear();
      return;
    }
    case Connection::Stage::kBody: {
      c.launch = decode_launch_body(c.bytes);
      const std::size_t size = c.bytes.size();
      c.bytes = std::string();
      if (!c.launch) {
        (void)answer(c, kLaunchRefused);
        c.done = true;
        return;
      }
      if (!launches.reserve(size)) {
        (void)answer(c, kLaunchQueueFull);
        c.done = true;
        return;
      }
      c.reserved = size;
      if (!answer(c, kLaunchAck)) {
        c.done = true;
        return;
      }
      c.stage = Connection::Stage::kConfirm;
      c.want = 1;
      return;
    }
    case Connection::Stage::kConfirm:
      if (c.bytes[0] == kLaunchConfirm) {
        launches.push(std::move(*c.launch), c.reserved);
        c.reserved = 0;
      }
      c.done = true;
      return;
  }
}

/// Reads what the peer has sent of the current stage, and acts on each
/// stage it completes. Reads no further than the stage, so a sender's
/// confirmation is never taken for part of its message.
void serve_readable(Connection& c, LaunchQueue& launches) {
  constexpr std::size_t kChunk = std::size_t{64} * 1024;
  while (!c.done) {
    if (c.bytes.size() == c.want) {
      complete_stage(c, launches);
      continue;
    }
    // Grows with what arrives, so a peer that only announces a large body
    // costs nothing until it sends it.
    const std::size_t have = c.bytes.size();
    c.bytes.resize(have + std::min(kChunk, c.want - have));
    const ssize_t n = read(c.fd.fd, c.bytes.data() + have, c.bytes.size() - have);
    const int error = errno;
    c.bytes.resize(have + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n > 0 || (n < 0 && error == EINTR)) continue;
    if (n < 0 && error == EAGAIN) return;
    c.done = true;  // the end, or a failure
  }
}

/// Takes the waiting connections: another user's and any over the bound are
/// closed at once. Takes a bounded number per round, so a flood of
/// connections cannot starve those being served. Returns false when the
/// listener fails (out of descriptors, most likely).
bool accept_waiting(int listener, std::vector<Connection>& connections, uid_t uid) {
  for (std::size_t round = 0; round < 4 * kMaxServedConnections; ++round) {
    Fd fd(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (fd.fd < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return errno == EAGAIN;
    }
    if (peer_uid(fd.fd) != uid || connections.size() >= kMaxServedConnections) continue;
    connections.emplace_back(std::move(fd), now_ms() + kServeTimeoutMs);
  }
  return true;
}

/// The primary's thread: serves up to kMaxServedConnections at once, each
/// until its own deadline, and queues the launches they confirm.
void* serve_launches(void* arg) {
  const int listener = *std::unique_ptr<int>(static_cast<int*>(arg));
  const uid_t uid = getuid();
  LaunchQueue& launches = queue();
  std::vector<Connection> connections;
  std::vector<pollfd> polled;
  // When accepting fails (out of descriptors), the listener rests a moment,
  // so the loop does not spin on it while the app closes some.
  std::int64_t listener_rests_until = 0;
  for (;;) {
    std::int64_t now = now_ms();
    const bool listening = now >= listener_rests_until;
    std::int64_t wake = listening ? -1 : listener_rests_until;
    polled.clear();
    for (const Connection& c : connections) {
      polled.push_back({c.fd.fd, POLLIN, 0});
      wake = wake < 0 ? c.deadline : std::min(wake, c.deadline);
    }
    if (listening) polled.push_back({listener, POLLIN, 0});
    const int timeout = wake < 0 ? -1 : remaining_ms(wake);
    if (poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) {
      poll(nullptr, 0, 50);
      continue;
    }
    for (std::size_t i = 0; i < connections.size(); ++i) {
      if (polled[i].revents != 0) serve_readable(connections[i], launches);
    }
    now = now_ms();
    for (Connection& c : connections) {
      if (c.deadline <= now) c.done = true;
      if (c.done && c.reserved > 0) launches.release(c.reserved);
    }
    std::erase_if(connections, [](const Connection& c) { return c.done; });
    if (listening && polled.back().revents != 0 && !accept_waiting(listener, connections, uid)) {
      listener_rests_until = now + 50;
    }
  }
  return nullptr;
}

/// Starts the thread that serves launches on `listener`, with every signal
/// blocked so that the JVM's handlers run on its own threads.
bool start_serving(int listener) {
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, std::size_t{256} * 1024);
  pthread_t thread;
  auto passed = std::make_unique<int>(listener);
  const int error = pthread_create(&thread, &attr, serve_launches, passed.get());
  if (error == 0) (void)passed.release();  // the thread owns it now
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

/// The path to bind or connect to for `name` in the opened folder `dir`:
/// through /proc/self/fd, so the socket is in the folder that was checked
/// even if its path has been swapped for another since; the folder's own
/// path where /proc does not show it. "" when neither fits a socket address.
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

/// With the lock held: replaces whatever socket file a dead primary left
/// and listens. Returns the listening socket, or -1 with errno set.
int listen_on(int dir_fd, const std::string& socket_name, const std::string& socket_path) {
  if (unlinkat(dir_fd, socket_name.c_str(), 0) != 0 && errno != ENOENT) return -1;
  Fd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (listener.fd < 0) return -1;
  const sockaddr_un address = socket_address(socket_path);
  if (bind(listener.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return -1;
  }
  if (listen(listener.fd, SOMAXCONN) != 0) return -1;
  return listener.release();
}

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

/// One attempt to hand `message` to the primary listening at `path`. Sends
/// nothing unless the socket's listener is of user `uid`; `peer` gets the
/// user it is of.
HandOver hand_over(const std::string& path, const std::string& message, std::int64_t deadline,
                   uid_t uid, uid_t& peer) {
  Fd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.fd < 0) return HandOver::kError;
  const sockaddr_un address = socket_address(path);
  if (connect(fd.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    // No socket yet, none listening, or its queue full: the primary is
    // starting, or has just died; the caller tries again.
    if (errno == ENOENT || errno == ECONNREFUSED || errno == EAGAIN) return HandOver::kNotListening;
    return HandOver::kError;
  }
  // Arguments, folder and token are for this user's primary alone: a
  // socket another user put in the way gets none of them.
  const std::optional<uid_t> listener = peer_uid(fd.fd);
  if (!listener) return HandOver::kError;
  peer = *listener;
  if (*listener != uid) return HandOver::kForeign;
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
      if (answer == kLaunchQueueFull) return HandOver::kQueueFull;
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
    return "has mode " + octal_mode(facts.mode) + ": others than its owner may use it";
  }
  return "";
}

std::string parent_problem(const FolderFacts& parent, uid_t uid) {
  // The owner of a folder may rename what is in it, sticky or not.
  if (parent.owner != uid && parent.owner != 0) {
    return "may be renamed by others: its parent belongs to user " + std::to_string(parent.owner);
  }
  if ((parent.mode & 022) != 0 && (parent.mode & S_ISVTX) == 0) {
    return "may be renamed by others: its parent has mode " + octal_mode(parent.mode);
  }
  return "";
}

bool LaunchQueue::reserve(std::size_t bytes) {
  const std::lock_guard lock(mutex_);
  if (count_ >= max_launches_ || bytes > max_bytes_ - bytes_) return false;
  ++count_;
  bytes_ += bytes;
  return true;
}

void LaunchQueue::release(std::size_t bytes) {
  const std::lock_guard lock(mutex_);
  --count_;
  bytes_ -= bytes;
}

void LaunchQueue::push(ForwardedLaunch launch, std::size_t bytes) {
  {
    const std::lock_guard lock(mutex_);
    launches_.emplace_back(std::move(launch), bytes);
  }
  ready_.notify_one();
}

ForwardedLaunch LaunchQueue::pop() {
  std::unique_lock lock(mutex_);
  ready_.wait(lock, [this] { return !launches_.empty(); });
  auto [launch, bytes] = std::move(launches_.front());
  launches_.pop_front();
  --count_;
  bytes_ -= bytes;
  return launch;
}

InstanceClaim claim_instance(const std::string& id, const ForwardedLaunch& launch, int timeout_ms) {
  if (!is_valid_instance_id(id)) {
    return off("the ID '" + id + "' is not 1 to 128 letters, digits, '.', '-' and '_'");
  }
  const uid_t uid = getuid();
  const std::string folder = instance_folder(std::getenv("XDG_RUNTIME_DIR"), uid);
  const std::size_t slash = folder.rfind('/');
  const std::string parent = slash == 0 ? "/" : folder.substr(0, slash);
  const std::string leaf = folder.substr(slash + 1);
  // Everything from here on goes through descriptors of the folders checked,
  // so a folder renamed or swapped meanwhile is never the one used.
  Fd above(open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat parent_stat {};
  if (above.fd < 0 || fstat(above.fd, &parent_stat) != 0) return off(errno_text(parent));
  const FolderFacts parent_facts{true, false, parent_stat.st_uid, parent_stat.st_mode};
  if (std::string problem = parent_problem(parent_facts, uid); !problem.empty()) {
    return off(folder + " " + problem);
  }
  if (mkdirat(above.fd, leaf.c_str(), 0700) != 0 && errno != EEXIST) return off(errno_text(folder));
  struct stat seen {};
  if (fstatat(above.fd, leaf.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
    return off(errno_text(folder));
  }
  const FolderFacts facts{S_ISDIR(seen.st_mode), S_ISLNK(seen.st_mode), seen.st_uid, seen.st_mode};
  if (std::string problem = folder_problem(facts, uid); !problem.empty()) {
    return off(folder + " " + problem);
  }
  Fd dir(openat(above.fd, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat opened {};
  if (dir.fd < 0 || fstat(dir.fd, &opened) != 0) return off(errno_text(folder));
  if (opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino) {
    return off(folder + " was replaced while it was checked");
  }
  const std::string socket_name = id + ".sock";
  const std::string socket_path = folder + "/" + socket_name;
  const std::string address = socket_path_in(dir.fd, opened, folder, socket_name);
  if (address.empty()) return off("the socket's path " + socket_path + " is too long for a socket");
  const std::string lock_name = id + ".lock";
  Fd lock(openat(dir.fd, lock_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (lock.fd < 0) return off(errno_text(folder + "/" + lock_name));

  const std::string message = encode_launch(launch);
  const std::int64_t deadline = now_ms() + timeout_ms;
  for (;;) {
    if (flock(lock.fd, LOCK_EX | LOCK_NB) == 0) {
      const int listener = listen_on(dir.fd, socket_name, address);
      if (listener < 0) return off(errno_text(socket_path));
      if (!start_serving(listener)) {
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
    uid_t peer = uid;
    switch (hand_over(address, message, deadline, uid, peer)) {
      case HandOver::kTaken:
        return {InstanceRole::kHandedOver, socket_path};
      case HandOver::kRefused:
        return {InstanceRole::kFailed, "the running instance refused the launch"};
      case HandOver::kQueueFull:
        return {InstanceRole::kFailed,
                "its queue of launches the app has not taken yet is full (at most " +
                    std::to_string(kMaxQueuedLaunches) + " launches or " +
                    std::to_string(kMaxQueuedBytes / (std::size_t{1024} * 1024)) +
                    " MiB), so this launch was not handed over"};
      case HandOver::kForeign:
        // Never a second primary beside the lock's holder: refuse instead.
        return {InstanceRole::kFailed, "the socket " + socket_path + " is served by user " +
                                           std::to_string(peer) + ", not by user " +
                                           std::to_string(uid) + ", so nothing was sent to it"};
      case HandOver::kError:
        return {InstanceRole::kFailed, errno_text(socket_path)};
      case HandOver::kTimeout:
        break;
      case HandOver::kNotListening:
      case HandOver::kGone:
        // Starting, just died, or serving as many as it may at once: the
        // lock or the socket tells on the next round.
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

ForwardedLaunch next_forwarded_launch() { return queue().pop(); }

}  // namespace vorlane
