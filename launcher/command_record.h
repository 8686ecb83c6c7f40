// The command record: how tools such as jps and jcmd name the running app.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane {

/// "-Dsun.java.command=" + main class, then one space and each default
/// argument, then one space and each command-line argument (program name
/// excluded). Nothing is quoted: the record is for people and tools to read.
std::string build_command_record(std::string_view main_class,
                                 const std::vector<std::string>& app_args,
                                 std::span<const char* const> command_line_args);

}  // namespace vorlane
