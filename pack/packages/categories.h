// The desktop menu categories a package may name, from the table
// pack/packages/categories.txt (compiled in).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pack/core/error.h"

namespace vorlane::packages {

/// The categories of a table of one name a line; '#' starts a comment line,
/// and blank lines are skipped.
std::vector<std::string> parse_category_table(std::string_view text);

/// The categories of the freedesktop menu rules, main and additional.
std::vector<std::string> registered_categories();

/// Refuses a desktop menu category that the freedesktop menu rules do not
/// register (or that is no X-Vendor-Name extension), naming it.
Status check_category(const std::string& category);

}  // namespace vorlane::packages
