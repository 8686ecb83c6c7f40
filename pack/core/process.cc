#include "pack/core/process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

extern char** environ;

namespace vorlane {

namespace {

volatile sig_atomic_t g_signal = 0;
/// The process group of the command that runs now, or 0.
volatile sig_atomic_t g_child_group = 0;

void on_interrupt(int signal) {
  g_signal = signal;
  if (g_child_group != 0) kill(-g_child_group, SIGKILL);
}

/// Blocks the interrupting signals while alive, so that a command's group
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
  const sigset_t& saved() const { return saved_; }

 private:
  sigset_t saved_;
};

std::vector<std::string> environment_without(const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    if (std::find(names.begin(), names.end(), name) == names.end()) out.push_back(entry);
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

/// Reads from `fd` into `sink` until end of file or until `deadline`
/// passes (when `use_deadline`). Returns false on the deadline.
bool drain(int fd, std::string& sink, bool use_deadline,
           std::chrono::steady_clock::time_point deadline) {
  pollfd p{fd, POLLIN, 0};
  while (true) {
    int wait_ms = -1;
    if (use_deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      wait_ms = static_cast<int>(left.count());
    }
    const int ready = poll(&p, 1, wait_ms);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) continue;  // the loop checks the deadline
    char buffer[65536];
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return true;
    sink.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

std::string CommandResult::describe_end(int timeout_seconds) const {
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

CommandResult run_command(const std::vector<std::string>& argv_in, const CommandOptions& options) {
  CommandResult result;
  if (g_signal != 0) {
    result.error = "interrupted";
    return result;
  }
  int out_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    result.error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A process group of its own, so a timeout can end the program's children too.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);

  std::vector<std::string> args = argv_in;
  std::vector<std::string> env = environment_without(options.unset_env);
  std::vector<char*> argv_ptrs = pointers(args);
  std::vector<char*> env_ptrs = pointers(env);
  pid_t pid = 0;
  int spawn_error = 0;
  {
    InterruptsHeld held;
    // The program starts with the signal mask the packer had before.
    posix_spawnattr_setsigmask(&attributes, &held.saved());
    spawn_error = g_signal != 0 ? EINTR
                                : posix_spawn(&pid, args.at(0).c_str(), &actions, &attributes,
                                              argv_ptrs.data(), env_ptrs.data());
    if (spawn_error == 0) g_child_group = pid;
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(out_pipe[1]);
  if (spawn_error != 0) {
    close(out_pipe[0]);
    result.error = args[0] + ": " + std::strerror(spawn_error);
    return result;
  }
  result.started = true;

  const bool use_deadline = options.timeout_seconds > 0;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  if (!drain(out_pipe[0], result.output, use_deadline, deadline)) {
    result.timed_out = true;
    kill(-pid, SIGKILL);
    // What the killed group wrote last; a grandchild that left the group
    // could hold the pipe open, so this wait is bounded too.
    drain(out_pipe[0], result.output, true,
          std::chrono::steady_clock::now() + std::chrono::seconds(2));
  }
  close(out_pipe[0]);
  int wait_status = 0;
  while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
  }
  g_child_group = 0;
  if (WIFEXITED(wait_status)) {
    result.status = WEXITSTATUS(wait_status);
  } else if (WIFSIGNALED(wait_status)) {
    result.status = 128 + WTERMSIG(wait_status);
  }
  return result;
}

std::string tail_lines(const std::string& output, std::size_t max_lines) {
  std::vector<std::string> all;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    all.push_back(output.substr(start, end - start));
    start = end + 1;
  }
  const std::size_t first = all.size() > max_lines ? all.size() - max_lines : 0;
  std::string out;
  for (std::size_t i = first; i < all.size(); ++i) out += "  " + all[i] + "\n";
  return out;
}

}  // namespace vorlane
