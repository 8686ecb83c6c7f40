// Debian's order of package versions, which publish sorts by and the
// updater applies too (formats/testdata/version-order.txt holds both sides'
// vectors).
#pragma once

#include <string_view>

namespace vorlane::formats {

/// Debian's order of versions (epoch, then upstream and revision compared
/// as runs of non-digits, where '~' sorts before everything, and numbers):
/// below 0, 0 or above 0 as `a` is older than, equal to or newer than `b`.
int compare_versions(std::string_view a, std::string_view b);

}  // namespace vorlane::formats
