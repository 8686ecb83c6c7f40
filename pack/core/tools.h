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

/// Runs `argv`, a tool whose output is data, in the C locale and in the
/// folder `cwd` ("" for this one), and returns its standard output alone.
/// Unless it exits with 0, a step failure naming the program, how it ended
/// and the last `shown_lines` of its error output (of its output when it
/// printed no error). An interrupt gives an interrupted error.
Result<std::string> run_tool_output(const std::vector<std::string>& argv, const std::string& cwd,
                                    int timeout_seconds, std::size_t shown_lines);

}  // namespace vorlane
