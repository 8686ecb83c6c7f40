#include "pack/core/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <utility>

#include "pack/core/error.h"

extern char** environ;

namespace vorlane {

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t g_signal = 0;
/// The process group of the program that runs now, or 0.
volatile sig_atomic_t g_child_group = 0;

void on_interrupt(int signal) {
  g_signal = signal;
  if (g_child_group != 0) kill(-g_child_group, SIGKILL);
}

/// Blocks the interrupting signals while alive, so that a program's group
/// is recorded before a handler can look for it.
class InterruptsHeld {
 public:
  InterruptsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &saved_);
  }
  ~InterruptsHeld() { sigprocmask(SIG_SETMASK, &saved_, nullptr); }
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
  const sigset_t& saved() const { return saved_; }

 private:
  sigset_t saved_;
};

/// A file descriptor closed when this goes out of scope.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

std::vector<std::string> merged_environment(
    const std::map<std::string, std::optional<std::string>>& changes) {
  std::vector<std::string> out;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (!changes.contains(entry.substr(0, entry.find('=')))) out.push_back(entry);
  }
  for (const auto& [name, value] : changes) {
    if (value) out.push_back(name + "=" + *value);
  }
  return out;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  out.reserve(strings.size() + 1);
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

/// A pipe whose read end does not block, so what is left in it can be taken
/// once the program has exited without waiting for its last writer.
Status make_pipe(Fd& read_end, Fd& write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return step_failed(std::string("pipe2: ") + std::strerror(errno));
  read_end.reset(fds[0]);
  write_end.reset(fds[1]);
  (void)fcntl(fds[0], F_SETFL, O_NONBLOCK);
  return done();
}

/// Reads what `fd` holds now (up to 4 MiB, so a fast writer cannot keep
/// the caller from its deadline) into `sink`, keeping its last `keep` bytes
/// when `keep` is not 0. Returns false at end of file.
bool take(int fd, std::string& sink, std::size_t keep) {
  char buffer[65536];
  for (int reads = 0; reads < 64; ++reads) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno == EAGAIN;
    if (n == 0) return false;
    sink.append(buffer, static_cast<std::size_t>(n));
    if (keep != 0 && sink.size() > 2 * keep) sink.erase(0, sink.size() - keep);
  }
  return true;
}

int decode_wait_status(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return -1;
}

/// Whether `pid` has exited; reaps it and stores its status if so. A child
/// that cannot be waited for (SIGCHLD ignored reaps it unseen) has ended.
bool reaped(pid_t pid, int& wait_status) {
  pid_t got = 0;
  while ((got = waitpid(pid, &wait_status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (got < 0) wait_status = W_EXITCODE(127, 0);
  return got != 0;
}

}  // namespace

std::string ProcessResult::describe_end(int timeout_seconds) const {
  if (!started) return "could not be started: " + error;
  if (timed_out) return "did not finish within " + std::to_string(timeout_seconds) + " s";
  if (status > 128) return "was ended by signal " + std::to_string(status - 128);
  return "exited with status " + std::to_string(status);
}

void install_interrupt_handlers() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

int interrupted() { return g_signal; }

namespace {

/// Starts `argv_in` as `options` say, its output streams on `out_fd` and
/// `err_fd` (unless discarded), in a process group of its own; the pid, or
/// -1 with `error` set. With `current`, the group is the one an interrupt
/// kills (the program the packer waits for).
pid_t spawn(const std::vector<std::string>& argv_in, const ProcessOptions& options, int out_fd,
            int err_fd, bool current, std::string& error) {
  // Everything the child needs is made before the fork: after it, the child
  // calls only what is safe there.
  const int sources[3] = {-1, out_fd, err_fd};
  bool closed[3] = {}, discarded[3] = {};
  for (int fd = 0; fd < 3; ++fd) {
    closed[fd] = options.closed_streams.contains(fd);
    discarded[fd] = options.discarded_streams.contains(fd);
  }
  const int inherited = options.inherited_fd;
  const char* working_directory =
      options.working_directory.empty() ? nullptr : options.working_directory.c_str();

  std::vector<std::string> args = argv_in;
  const std::string path = args.at(0);
  if (options.argv0) args[0] = *options.argv0;
  std::vector<std::string> env = merged_environment(options.env);
  std::vector<char*> argv_ptrs = pointers(args);
  std::vector<char*> env_ptrs = pointers(env);
  if (options.argv0 && options.argv0->empty() && args.size() == 1) argv_ptrs.front() = nullptr;
  // The child writes why it could not start the program here; exec closes it.
  Fd report_read, report_write;
  if (Status reported = make_pipe(report_read, report_write); !reported) {
    error = reported.error().message;
    return -1;
  }
  (void)fcntl(report_read.get(), F_SETFL, 0);  // the parent waits for exec or the reason
  const pid_t parent = getpid();

  pid_t pid = 0;
  int spawn_error = 0;
  {
    InterruptsHeld held;
    pid = g_signal != 0 ? -1 : fork();
    if (pid == 0) {
      auto fail = [&](int error) {
        (void)!write(report_write.get(), &error, sizeof error);
        _exit(127);
      };
      // The program dies with the packer, even when the packer is killed
      // outright (SIGKILL gives it no chance to end its children).
      if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) fail(errno);
      if (getppid() != parent) _exit(127);
      // A process group of its own, so a timeout can end the program's children too.
      if (setpgid(0, 0) != 0) fail(errno);
      for (int fd = 0; fd < 3; ++fd) {
        if (closed[fd]) {
          close(fd);
        } else if (fd == 0 || discarded[fd]) {
          const int null = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
          if (null < 0 || dup2(null, fd) < 0) fail(errno);
          if (null != fd) close(null);
        } else if (sources[fd] == fd) {
          (void)fcntl(fd, F_SETFD, 0);
        } else if (dup2(sources[fd], fd) < 0) {
          fail(errno);
        }
      }
      if (inherited > 2 && fcntl(inherited, F_SETFD, 0) != 0) fail(errno);
      if (working_directory != nullptr && chdir(working_directory) != 0) fail(errno);
      // The program starts with the default handlers and the signal mask this
      // process had before.
      struct sigaction default_action {};
      default_action.sa_handler = SIG_DFL;
      for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &default_action, nullptr);
      sigprocmask(SIG_SETMASK, &held.saved(), nullptr);
      execve(path.c_str(), argv_ptrs.data(), env_ptrs.data());
      fail(errno);
    }
    if (pid < 0) {
      spawn_error = g_signal != 0 ? EINTR : errno;
    } else {
      // Set here too, so that the group exists before the handler may kill it.
      setpgid(pid, pid);
      if (current) g_child_group = pid;
    }
  }
  report_write.reset();
  if (pid > 0) {
    int child_error = 0;
    ssize_t n = 0;
    while ((n = read(report_read.get(), &child_error, sizeof child_error)) < 0 && errno == EINTR) {
    }
    if (n == sizeof child_error) {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      if (current) g_child_group = 0;
      spawn_error = child_error;
    }
  }
  if (spawn_error != 0) {
    error = path + ": " + std::strerror(spawn_error);
    return -1;
  }
  return pid;
}

}  // namespace

ProcessResult run_process(const std::vector<std::string>& argv_in, const ProcessOptions& options) {
  ProcessResult result;
  if (g_signal != 0) {
    result.error = "interrupted";
    return result;
  }
  Fd out_read, out_write, err_read, err_write;
  Status piped = make_pipe(out_read, out_write);
  if (piped && !options.merge_output) piped = make_pipe(err_read, err_write);
  if (!piped) {
    result.error = piped.error().message;
    return result;
  }
  const pid_t pid =
      spawn(argv_in, options, out_write.get(),
            options.merge_output ? out_write.get() : err_write.get(), true, result.error);
  out_write.reset();
  err_write.reset();
  if (pid < 0) return result;
  result.started = true;
  result.pid = pid;

  // The program's exit wakes the poll below even while a child it left
  // behind holds the pipes open. Kernels before 5.3 lack pidfd_open: then
  // the loop looks every 100 ms instead.
  const Fd exit_fd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  const bool bounded = options.timeout_seconds > 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(options.timeout_seconds);
  struct Stream {
    int fd;
    std::string* sink;
  } streams[2] = {{out_read.get(), &result.out}, {err_read.get(), &result.err}};
  int wait_status = 0;
  bool exited = false;
  while (!(exited = reaped(pid, wait_status))) {
    int wait_ms = exit_fd.get() >= 0 ? -1 : 100;
    if (bounded) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      wait_ms = wait_ms < 0 ? static_cast<int>(left) : std::min(wait_ms, static_cast<int>(left));
    }
    pollfd fds[3];
    nfds_t count = 0;
    for (const Stream& s : streams) {
      if (s.fd >= 0) fds[count++] = {s.fd, POLLIN, 0};
    }
    if (exit_fd.get() >= 0) fds[count++] = {exit_fd.get(), POLLIN, 0};
    if (poll(fds, count, wait_ms) < 0 && errno != EINTR) break;
    for (Stream& s : streams) {
      if (s.fd >= 0 && !take(s.fd, *s.sink, options.keep_bytes)) s.fd = -1;
    }
  }
  if (!exited) {
    result.timed_out = true;
    kill(-pid, SIGKILL);
    while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
    }
  }
  g_child_group = 0;
  // What the program wrote before it ended; whatever a child left behind
  // writes later is not waited for.
  for (const Stream& s : streams) {
    if (s.fd >= 0) take(s.fd, *s.sink, options.keep_bytes);
  }
  for (std::string* sink : {&result.out, &result.err}) {
    if (options.keep_bytes != 0 && sink->size() > options.keep_bytes) {
      sink->erase(0, sink->size() - options.keep_bytes);
    }
  }
  result.status = result.timed_out ? -1 : decode_wait_status(wait_status);
  return result;
}

bool start_detached(const std::vector<std::string>& argv) {
  if (argv.empty() || interrupted() != 0) return false;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  for (const int fd : {0, 1, 2}) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  // A session of its own: a terminal's Ctrl-C or a kill of this process
  // group does not reach it. Default signal handling and mask, whatever
  // this process has installed.
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return failed == 0;
}

bool remove_when_released(const std::string& folder, const std::string& lock_file,
                          const std::string& flock, const std::string& first) {
  if (flock.empty()) return false;
  std::string script = R"(exec 9<"$2" && "$3" 9 && [ -d "$1" ] && [ ! -L "$1" ] || exit 0)"
                       "\n";
  if (!first.empty()) script += first + "\n";
  script += R"(exec rm -rf -- "$1")";
  return start_detached({"/bin/sh", "-c", script, "sh", folder, lock_file, flock});
}

Result<BackgroundProcess> BackgroundProcess::start(const std::vector<std::string>& argv,
                                                   ProcessOptions options, int output_fd) {
  if (g_signal != 0) return interruption();
  options.discarded_streams = {2};
  if (output_fd < 0) options.discarded_streams.insert(1);
  std::string error;
  const pid_t pid = spawn(argv, options, output_fd, -1, false, error);
  if (pid < 0) return step_failed(error);
  BackgroundProcess process;
  process.pid_ = pid;
  return process;
}

BackgroundProcess::BackgroundProcess(BackgroundProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)) {}

BackgroundProcess& BackgroundProcess::operator=(BackgroundProcess&& other) noexcept {
  if (this != &other) {
    stop();
    pid_ = std::exchange(other.pid_, -1);
  }
  return *this;
}

BackgroundProcess::~BackgroundProcess() { stop(); }

namespace {

/// Whether `pid` exits by `deadline`; reaps it and stores its status if so.
bool reaped_by(pid_t pid, int& wait_status, Clock::time_point deadline) {
  const Fd exit_fd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  while (!reaped(pid, wait_status)) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd exited = {exit_fd.get(), POLLIN, 0};
    // Without pidfd_open (kernels before 5.3), a look every 100 ms.
    if (exit_fd.get() < 0 || poll(&exited, 1, static_cast<int>(left)) < 0) {
      poll(nullptr, 0, static_cast<int>(std::min<long>(left, 100)));
    }
  }
  return true;
}

}  // namespace

int BackgroundProcess::wait(int timeout_seconds) {
  if (pid_ <= 0) return -1;
  int wait_status = 0;
  if (!reaped_by(pid_, wait_status, Clock::now() + std::chrono::seconds(timeout_seconds))) {
    return -1;
  }
  pid_ = -1;
  return decode_wait_status(wait_status);
}

void BackgroundProcess::stop() {
  if (pid_ <= 0) return;
  const pid_t pid = std::exchange(pid_, -1);
  int wait_status = 0;
  if (reaped(pid, wait_status)) return;
  kill(-pid, SIGTERM);
  // A bound on a program that ignores SIGTERM; then it is killed.
  if (reaped_by(pid, wait_status, Clock::now() + std::chrono::seconds(kStopSeconds))) return;
  kill(-pid, SIGKILL);
  while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace vorlane
