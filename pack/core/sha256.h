// The SHA-256 of a file, read in blocks through libcrypto.
#pragma once

#include <string>

#include "pack/core/error.h"

namespace vorlane {

/// The lowercase hex SHA-256 of the file at `path`; a read error names the path.
Result<std::string> sha256_file(const std::string& path);

}  // namespace vorlane
