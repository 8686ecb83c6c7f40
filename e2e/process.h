// Running a program and collecting what it printed, as the suite does it:
// the packer's process runner, with a timeout by default.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pack/core/process.h"

namespace vorlane::e2e {

/// The result: `status` is -1 when the program did not end within the
/// timeout; `err` says why when it could not be started.
using RunResult = ProcessResult;

/// The timeout only ends a program that hangs: on a busy machine, or under
/// emulation, a packer run that links a runtime can take minutes.
struct RunOptions : ProcessOptions {
  RunOptions() { timeout_seconds = 400; }
};

/// Runs `argv` (argv[0] is the path), feeding it no input, and waits for it.
RunResult run_process(const std::vector<std::string>& argv, const RunOptions& options = {});

/// How long a background program may take to answer or end: a JVM start on
/// a busy machine or under emulation; only a hang reaches it.
constexpr int kChildBoundSeconds = 240;

/// A program running in the background, its standard output on a pipe read
/// on demand. Killed (woken first, if stopped) and reaped when it goes.
class Child {
 public:
  struct Options {
    std::map<std::string, std::string> env;  ///< over this environment; "" removes one
    bool input = true;                       ///< a pipe to its standard input, else /dev/null
    bool merge_err = false;                  ///< its standard error on the output pipe too
    std::string err_file;                    ///< else its standard error into this file, if named
  };
  /// Starts `argv` (argv[0] a path, or a name on PATH).
  Child(std::vector<std::string> argv, const Options& options);
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  /// All it wrote so far.
  const std::string& output() const { return output_; }

  /// Writes `line` and a newline to its input.
  void send(const std::string& line);
  /// The next line of output not yet returned, or "(ended)" / "(no answer)".
  std::string read_line();
  /// Sends `command` and returns the next line.
  std::string ask(const std::string& command) {
    send(command);
    return read_line();
  }
  /// Reads until the output holds a whole line with `text`: true; false at
  /// the output's end or after the bound.
  bool wait_for(const std::string& text);
  /// Its exit status (128 + signal when a signal ended it), reading what is
  /// left of its output; -1 when it did not end within the bound.
  int wait_exit();
  /// Closes its input, then wait_exit().
  int finish();

 private:
  /// Waits for output until `deadline` and reads some: 1, or 0 at its end,
  /// -1 at the deadline.
  int read_some(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string output_;
  std::size_t read_to_ = 0;  ///< where read_line goes on from
};

/// An Xvfb of its own on a free display number (-displayfd), ended with the test.
class Xvfb {
 public:
  Xvfb();
  /// ":N", or empty when no server could be started.
  const std::string& name() const { return name_; }

 private:
  std::optional<Child> server_;
  std::string name_;
};

}  // namespace vorlane::e2e
