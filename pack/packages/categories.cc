#include "pack/packages/categories.h"

#include <algorithm>

#include "pack/core/strings.h"
#include "pack/packages/templates.h"

namespace vorlane::packages {

std::vector<std::string> parse_category_table(std::string_view text) {
  std::vector<std::string> out;
  for (const std::string& line : split_lines(text)) {
    const auto b = line.find_first_not_of(" \t");
    if (b == std::string::npos || line[b] == '#') continue;
    out.push_back(line.substr(b, line.find_last_not_of(" \t") - b + 1));
  }
  return out;
}

std::vector<std::string> registered_categories() {
  return parse_category_table(templates::kCategories);
}

Status check_category(const std::string& category) {
  const std::vector<std::string> registered = registered_categories();
  if (std::find(registered.begin(), registered.end(), category) != registered.end()) return done();
  const bool extension = category.starts_with("X-") && category.size() > 2 &&
                         std::all_of(category.begin(), category.end(), [](char c) {
                           return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                                  (c >= '0' && c <= '9') || c == '-';
                         });
  if (extension) return done();
  return bad_input("--linux-menu-group: '" + category +
                   "' is no registered desktop menu category (such as Office, Utility, "
                   "Development, Graphics) nor an X-Name extension");
}

}  // namespace vorlane::packages
