// Starting a program for the process layer (run_process, BackgroundProcess):
// fork and exec in a process group of its own, and the pieces both callers
// share. Only the process layer's own files include this.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "pack/core/error.h"
#include "pack/core/process.h"

namespace vorlane {

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

/// A pipe whose read end does not block, so what is left in it can be taken
/// once the program has exited without waiting for its last writer.
Status make_pipe(Fd& read_end, Fd& write_end);

/// The exit status of a wait status: 128 + the signal number when a signal ended it.
int decode_wait_status(int wait_status);

/// Whether `pid` has exited; reaps it and stores its status if so. A child
/// that cannot be waited for (SIGCHLD ignored reaps it unseen) has ended.
bool reaped(pid_t pid, int& wait_status);

/// Starts `argv_in` as `options` say, its output streams on `out_fd` and
/// `err_fd` (unless discarded), in a process group of its own; the pid, or
/// -1 with `error` set. With `current`, the group is the one an interrupt
/// kills (the program the packer waits for) until `forget_current_group`.
pid_t spawn(const std::vector<std::string>& argv_in, const ProcessOptions& options, int out_fd,
            int err_fd, bool current, std::string& error);

/// The current program has been reaped: an interrupt no longer kills its group.
void forget_current_group();

}  // namespace vorlane
