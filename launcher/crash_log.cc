#include "launcher/crash_log.h"

namespace vorlane {

std::optional<std::string> crash_log_option(const std::vector<std::string>& options,
                                            std::string_view state_dir) {
  for (const std::string& option : options) {
    if (option.starts_with(kErrorFilePrefix)) return std::nullopt;
  }
  std::string result(kErrorFilePrefix);
  for (const char c : state_dir) {
    if (c == '%') result += '%';
    result += c;
  }
  result += "/hs_err_pid%p.log";
  return result;
}

}  // namespace vorlane
