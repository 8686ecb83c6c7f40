// Splitting text into parts and lines: what every text format here is read
// with, on both sides.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vorlane::formats {

/// The parts of `text` between the `separator`s: "a,,b" gives {"a", "", "b"},
/// "" gives {""}.
std::vector<std::string> split(std::string_view text, char separator);

/// The lines of `text`: a final line break ends the last line rather than
/// starting an empty one, and a '\r' before a line break is dropped.
std::vector<std::string> split_lines(std::string_view text);

}  // namespace vorlane::formats
