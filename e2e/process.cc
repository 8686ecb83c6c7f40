#include "e2e/process.h"

namespace vorlane::e2e {

RunResult run_process(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result = vorlane::run_process(argv, options);
  if (!result.started) result.err = "spawn failed: " + result.error;
  return result;
}

}  // namespace vorlane::e2e
