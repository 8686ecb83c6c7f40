#include "launcher/command_record.h"

namespace vorlane {

std::string build_command_record(std::string_view main_class,
                                 const std::vector<std::string>& app_args,
                                 std::span<const char* const> command_line_args) {
  std::string record = "-Dsun.java.command=";
  record += main_class;
  for (const std::string& arg : app_args) {
    record += ' ';
    record += arg;
  }
  for (const char* arg : command_line_args) {
    record += ' ';
    record += arg;
  }
  return record;
}

}  // namespace vorlane
