// Running the programs the packer drives (jdeps, jlink, an app's training
// run) and collecting what they print.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vorlane {

struct CommandOptions {
  /// Seconds before the program (and everything it started) is killed; 0 waits for ever.
  int timeout_seconds = 0;
  /// Environment variables removed for the program.
  std::vector<std::string> unset_env;
};

struct CommandResult {
  /// False when the program could not be started; `error` says why.
  bool started = false;
  /// Exit status; 128 + the signal number when a signal ended it.
  int status = -1;
  bool timed_out = false;
  /// Standard output and standard error, interleaved as they were written.
  std::string output;
  std::string error;

  bool ok() const { return started && !timed_out && status == 0; }
  /// How it ended, for a message: "exited with status 3", "did not finish within 5 s", ...
  std::string describe_end(int timeout_seconds) const;
};

/// Runs `argv` (argv[0] is a path, not looked up in PATH) with no input and
/// waits for it. The program gets its own process group, so a timeout also
/// ends the processes it started.
CommandResult run_command(const std::vector<std::string>& argv, const CommandOptions& options = {});

/// From now on SIGINT, SIGTERM and SIGHUP do not end the packer at once:
/// they kill the running command's process group and are recorded, so that
/// the packer can remove what it half-made and then end.
void install_interrupt_handlers();

/// The signal that interrupted the packer since the handlers were
/// installed, or 0. `run_command` starts nothing once it is set.
int interrupted();

/// The last `max_lines` lines of `output`, each indented by two blanks, for
/// showing under an error message.
std::string tail_lines(const std::string& output, std::size_t max_lines);

}  // namespace vorlane
