// Standard base64 (RFC 4648, with padding), as the update feed's key,
// signature and notes are written.
#pragma once

#include <string>
#include <string_view>

namespace vorlane::formats {

/// `bytes` in standard base64 with padding.
std::string base64_encode(std::string_view bytes);

}  // namespace vorlane::formats
