#include "pack/core/background_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <utility>

#include "pack/core/process_start.h"

extern char** environ;

namespace vorlane {

using Clock = std::chrono::steady_clock;

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
  if (interrupted() != 0) return interruption();
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
