// The update feed's text rules, which its manifests follow: paths
// percent-encoded, dates of one form, text in UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorlane::formats {

/// `text` with every byte outside A-Za-z0-9._~+-/@,= written as %XX (upper-case hex).
std::string percent_encode(std::string_view text);

/// "2026-12-08T03:00:00Z" for `seconds` since 1970.
std::string feed_date(std::int64_t seconds);

/// Whether `text` is of the form YYYY-MM-DDTHH:MM:SSZ, a day that exists
/// (leap years counted), hours 00-23, minutes and seconds 00-59.
bool valid_feed_date(std::string_view text);

/// Whether `text` is well-formed UTF-8.
bool valid_utf8(std::string_view text);

}  // namespace vorlane::formats
