// Finding the programs the packer runs, and running one as a step that
// either succeeds or says how it ended and what it printed.
#pragma once

#include <string>
#include <vector>

#include "pack/core/error.h"

namespace vorlane {

/// The first executable file called `name` in the folders of `path_list`
/// (a PATH value; "/usr/bin:/bin" when null), or "" when there is none.
std::string find_program(const std::string& name, const char* path_list);

/// Runs `argv` with its standard output and error in one stream; a step
/// failure naming `what`, how it ended and the end of its output, unless it
/// exited with 0. An interrupt gives an interrupted error. 0 seconds: no limit.
Result<std::string> run_tool(const std::string& what, const std::vector<std::string>& argv,
                             int timeout_seconds = 0);

}  // namespace vorlane
