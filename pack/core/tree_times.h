// Making a tree's modes and times independent of the umask and the clock.
#pragma once

#include <cstdint>
#include <string>

#include "pack/core/error.h"

namespace vorlane {

/// Sets every folder and executable under `root` (and `root`) to 0755, other
/// files to 0644, and every time, links' own included, to `epoch`.
Status normalize_tree(const std::string& root, std::int64_t epoch);

}  // namespace vorlane
