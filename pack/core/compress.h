// Compressing files with no name and no time in their headers, so the same
// input always gives the same bytes.
#pragma once

#include <string>

#include "pack/core/error.h"

namespace vorlane {

/// Compresses the file `from` into the gzip file `to` at `level` (1 to 9),
/// with an empty name and a zero time in its header.
Status gzip_file(const std::string& from, const std::string& to, int level = 9);

}  // namespace vorlane
