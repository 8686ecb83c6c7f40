// Running a program and collecting what it prints: the one place that
// spawns processes, for the packer's tools and training runs, the
// end-to-end harness and the benchmarks.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "pack/core/error.h"

namespace vorlane {

struct ProcessOptions {
  /// Variables to set (a value) or remove (nullopt) on top of this process's environment.
  std::map<std::string, std::optional<std::string>> env;
  std::string working_directory;
  /// argv[0] as the program sees it; the path to run by default. An empty
  /// one with no other arguments starts the program with no argv at all.
  std::optional<std::string> argv0;
  /// Seconds the whole run may take, from start to exit; then the program
  /// and everything in its process group is killed. 0 waits for ever.
  int timeout_seconds = 0;
  /// Standard error goes to the same pipe as standard output, collected in
  /// `out` in the order written.
  bool merge_output = false;
  /// Output streams (1, 2) that go to /dev/null rather than to a pipe.
  std::set<int> discarded_streams;
  /// Standard streams (0, 1, 2) the program starts with closed.
  std::set<int> closed_streams;
  /// When not 0, only the last `keep_bytes` bytes of each stream are kept
  /// (at most twice that in memory), so an endless talker costs no more.
  std::size_t keep_bytes = 0;
  /// A descriptor of this process (above 2) the program gets under the same
  /// number (Xvfb's -displayfd); -1 for none. Any other is closed at exec.
  int inherited_fd = -1;
};

struct ProcessResult {
  /// False when the program could not be started; `error` says why.
  bool started = false;
  std::string error;
  /// Exit status; 128 + the signal number when a signal ended it; -1 when
  /// it did not end within the timeout.
  int status = -1;
  bool timed_out = false;
  int pid = -1;
  std::string out;
  std::string err;

  bool ok() const { return started && !timed_out && status == 0; }
  /// How it ended, for a message: "exited with status 3", "did not finish within 5 s", ...
  std::string describe_end(int timeout_seconds) const;
};

/// Runs `argv` (argv[0] is a path, not looked up in PATH) with no input and
/// waits until it exits, in a process group of its own. Reading its output
/// ends when it exits: a child it left behind holding the pipes open keeps
/// no one waiting.
ProcessResult run_process(const std::vector<std::string>& argv, const ProcessOptions& options = {});

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

/// From now on SIGINT, SIGTERM and SIGHUP do not end this process at once:
/// they kill the running program's process group and are recorded, so that
/// the packer can remove what it half-made and then end.
void install_interrupt_handlers();

/// The signal that interrupted the packer since the handlers were
/// installed, or 0. `run_process` starts nothing once it is set.
int interrupted();

}  // namespace vorlane
