// Running a program and collecting what it printed.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vorlane::e2e {

struct RunResult {
  /// Exit status, or 128 + signal number when a signal ended the program.
  int status = -1;
  /// The program's process id, to look for what it may have left behind.
  int pid = -1;
  std::string out;
  std::string err;
};

struct RunOptions {
  /// Variables to set (a value) or remove (nullopt) on top of this process's environment.
  std::map<std::string, std::optional<std::string>> env;
  std::string working_directory;
  /// argv[0] as the program sees it; the path to run by default.
  std::optional<std::string> argv0;
  /// Seconds before the program is killed; the result then has status -1.
  int timeout_seconds = 120;
  /// Standard streams (0, 1, 2) the program starts with closed, rather than
  /// reading /dev/null and writing to the pipes collected into the result.
  std::set<int> closed_streams;
};

/// Runs `argv` (argv[0] is the path), feeding it no input, and waits for it.
RunResult run_process(const std::vector<std::string>& argv, const RunOptions& options = {});

}  // namespace vorlane::e2e
