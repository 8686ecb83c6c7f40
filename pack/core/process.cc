#include "pack/core/process.h"

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>

#include "pack/core/error.h"
#include "pack/core/process_start.h"

namespace vorlane {

namespace {

using Clock = std::chrono::steady_clock;

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

}  // namespace

std::string ProcessResult::describe_end(int timeout_seconds) const {
  if (!started) return "could not be started: " + error;
  if (timed_out) return "did not finish within " + std::to_string(timeout_seconds) + " s";
  if (status > 128) return "was ended by signal " + std::to_string(status - 128);
  return "exited with status " + std::to_string(status);
}

ProcessResult run_process(const std::vector<std::string>& argv_in, const ProcessOptions& options) {
  ProcessResult result;
  if (interrupted() != 0) {
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
  forget_current_group();
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

}  // namespace vorlane
