// Running a program and collecting what it printed, as the suite does it:
// the packer's process runner, with a timeout by default.
#pragma once

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

}  // namespace vorlane::e2e
