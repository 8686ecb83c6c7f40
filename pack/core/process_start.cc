#include "pack/core/process_start.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstring>

extern char** environ;

namespace vorlane {

namespace {

// The interrupt handlers (declared in process.h) live here, beside the
// group that spawn records for them to kill.
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

}  // namespace

Status make_pipe(Fd& read_end, Fd& write_end) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return step_failed(std::string("pipe2: ") + std::strerror(errno));
  read_end.reset(fds[0]);
  write_end.reset(fds[1]);
  (void)fcntl(fds[0], F_SETFL, O_NONBLOCK);
  return done();
}

int decode_wait_status(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return -1;
}

bool reaped(pid_t pid, int& wait_status) {
  pid_t got = 0;
  while ((got = waitpid(pid, &wait_status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (got < 0) wait_status = W_EXITCODE(127, 0);
  return got != 0;
}

void install_interrupt_handlers() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

int interrupted() { return g_signal; }

void forget_current_group() { g_child_group = 0; }

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

}  // namespace vorlane
