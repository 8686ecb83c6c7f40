// Programs that run beside the packer rather than being waited for: a
// background program stopped when the packer is done with it, and a
// detached watcher that outlives the packer.
#pragma once

#include <string>
#include <vector>

#include "pack/core/error.h"
#include "pack/core/process.h"

namespace vorlane {

/// Starts `argv` (a path, not looked up) in a session of its own, with its
/// standard streams on /dev/null, and does not wait for it: for a watcher
/// that must outlive this process, even one killed outright. False when it
/// could not be started.
bool start_detached(const std::vector<std::string>& argv);

/// Starts a watcher (see `start_detached`) that waits for an exclusive lock
/// on `lock_file`, which this process holds, and once it gets it (this
/// process ended in any way, SIGKILL too) and `folder` is still a folder,
/// not a link, runs the shell command `first` (with "$1" = `folder`; may be
/// empty) and removes `folder`. `flock` is the path of util-linux's flock.
/// For what a killed run must not leave behind: secret keys, unpublished
/// files. False when it could not be started.
bool remove_when_released(const std::string& folder, const std::string& lock_file,
                          const std::string& flock, const std::string& first = "");

/// A program left running while the packer works (a display server for a
/// training run): in a process group of its own, its output discarded, and
/// killed with the packer. Stopped and reaped when this goes: SIGTERM to its
/// group, then SIGKILL after kStopSeconds.
class BackgroundProcess {
 public:
  static constexpr int kStopSeconds = 10;

  /// Starts `argv` (argv[0] a path) as `options` say, but for the output
  /// streams and the timeout, which do not apply. Its standard output goes
  /// to `output_fd` of this process (a pipe the caller reads) when that is
  /// not -1, else it is discarded as its standard error is.
  static Result<BackgroundProcess> start(const std::vector<std::string>& argv,
                                         ProcessOptions options = {}, int output_fd = -1);
  BackgroundProcess(BackgroundProcess&& other) noexcept;
  BackgroundProcess& operator=(BackgroundProcess&& other) noexcept;
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;
  ~BackgroundProcess();

  int pid() const { return pid_; }
  /// Waits at most `timeout_seconds` (0: not at all) for the program to
  /// end by itself: its exit status as `ProcessResult::status` has it, then
  /// pid() is -1; or -1 when it still runs.
  int wait(int timeout_seconds);
  /// Ends the program now, as the destructor would; then pid() is -1.
  void stop();

 private:
  BackgroundProcess() = default;
  int pid_ = -1;
};

}  // namespace vorlane
