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

std::string crash_log_path(std::string_view state_dir, long pid) {
  return std::string(state_dir) + "/hs_err_pid" + std::to_string(pid) + ".log";
}

std::string start_end_report(StartEnd end, std::string_view crash_log, std::string_view said) {
  std::string report;
  if (!crash_log.empty()) {
    report = "The JVM crashed as it started. Its crash log is " + std::string(crash_log) + ".";
  } else if (end.aborted) {
    report = "The JVM stopped as it started.";
  } else {
    report = "The JVM ended as it started, with status " + std::to_string(end.status) + ".";
  }
  if (!said.empty()) report.append("\n\n").append(said);
  return report;
}

}  // namespace vorlane
