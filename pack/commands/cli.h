// vorlane-pack's command line: the commands, their options, and how a
// parsed command line runs.
#pragma once

#include <string>
#include <vector>

namespace vorlane {

/// Parses `args` (without the program name), runs the command they name and
/// returns the exit status. Usage errors are reported on standard error.
int run_command_line(std::vector<std::string> args);

}  // namespace vorlane
