// Preparing the packer's command line before it is parsed.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace vorlane {

/// Replaces each argument `@FILE` by the lines of FILE, one argument per
/// line (a final '\r' of a line is dropped, blank lines are skipped); files
/// are not expanded recursively. Returns false with the reason in `error`
/// when a file cannot be read or holds a 0 byte.
bool expand_arg_files(std::vector<std::string>& args, std::string& error);

/// Joins each of `value_options` that stands alone with the argument after it
/// (`--java-option -Xmx1g` becomes `--java-option=-Xmx1g`), so a value that
/// starts with '-' is never taken for an option of the packer's own. Stops
/// at `--`: what follows it is passed on as it is.
void attach_option_values(std::vector<std::string>& args,
                          const std::set<std::string>& value_options);

}  // namespace vorlane
