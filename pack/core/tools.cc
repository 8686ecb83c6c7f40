#include "pack/core/tools.h"

#include <unistd.h>

#include <filesystem>

#include "pack/core/process.h"
#include "pack/core/strings.h"

namespace vorlane {

namespace {
/// Lines of a failed tool's output shown under the error.
constexpr std::size_t kShownLines = 40;
}  // namespace

std::string find_program(const std::string& name, const char* path_list) {
  for (const std::string& dir : split(path_list == nullptr ? "/usr/bin:/bin" : path_list, ':')) {
    if (dir.empty()) continue;
    std::string candidate = dir + "/" + name;
    std::error_code ec;
    if (access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate, ec)) {
      return candidate;
    }
  }
  return "";
}

Result<std::string> run_tool(const std::string& what, const std::vector<std::string>& argv,
                             int timeout_seconds) {
  ProcessOptions options;
  options.merge_output = true;
  options.timeout_seconds = timeout_seconds;
  ProcessResult r = run_process(argv, options);
  if (interrupted() != 0) return Error{ErrorKind::kInterrupted, what + " was interrupted"};
  if (!r.started) return step_failed(what + " could not start: " + r.error);
  if (!r.ok()) {
    const std::string tail = tail_lines(r.out, kShownLines);
    return step_failed(what + " " + r.describe_end(timeout_seconds) +
                       (tail.empty() ? "" : "; it printed:\n" + tail));
  }
  return std::move(r.out);
}

Result<std::string> run_tool_output(const std::vector<std::string>& argv, const std::string& cwd,
                                    int timeout_seconds, std::size_t shown_lines) {
  ProcessOptions options;
  options.env = {{"LC_ALL", "C"}};
  options.working_directory = cwd;
  options.timeout_seconds = timeout_seconds;
  ProcessResult r = run_process(argv, options);
  if (interrupted() != 0) return interruption();
  if (!r.ok()) {
    return step_failed(std::filesystem::path(argv[0]).filename().string() + " " +
                       r.describe_end(timeout_seconds) +
                       tail_lines(r.err.empty() ? r.out : r.err, shown_lines));
  }
  return std::move(r.out);
}

}  // namespace vorlane
