#include "formats/text_split.h"

namespace vorlane::formats {

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> out;
  while (true) {
    const std::size_t end = text.find(separator);
    out.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) return out;
    text.remove_prefix(end + 1);
  }
}

std::vector<std::string> split_lines(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (text.empty()) return {};
  std::vector<std::string> lines = split(text, '\n');
  for (std::string& line : lines) {
    if (line.ends_with('\r')) line.pop_back();
  }
  return lines;
}

}  // namespace vorlane::formats
