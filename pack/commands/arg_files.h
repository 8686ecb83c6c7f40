// Preparing the packer's command line before it is parsed.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "pack/core/error.h"

namespace vorlane {

/// Replaces each argument `@FILE` by the lines of FILE, one argument per
/// line (a final '\r' of a line is dropped, blank lines are skipped, a
/// UTF-8 byte-order mark at its start is ignored); files are not expanded
/// recursively. Refuses when a file cannot be read or holds a 0 byte.
Status expand_arg_files(std::vector<std::string>& args);

/// The values of options whose value is any text, even empty or starting
/// with '-' (`--java-option -Xmx1g`, `--argument ""`, `--argument=x`),
/// taken out of `args` in order, per option. Stops at `--`: what follows it
/// is passed on as it is. Refuses such an option at the end, with no value.
Result<std::map<std::string, std::vector<std::string>>> take_value_options(
    std::vector<std::string>& args, const std::set<std::string>& names);

}  // namespace vorlane
