#include "pack/core/strings.h"

#include <charconv>

namespace vorlane {

std::vector<std::string> split_words(std::string_view text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while ((start = text.find_first_not_of(" \t", start)) != std::string_view::npos) {
    const std::size_t end = text.find_first_of(" \t", start);
    out.emplace_back(text.substr(start, end - start));
    start = end;
  }
  return out;
}

std::string join(std::span<const std::string> items, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += separator;
    out += items[i];
  }
  return out;
}

std::string tail_lines(std::string_view output, std::size_t max_lines) {
  const std::vector<std::string> all = split_lines(output);
  const std::size_t first = all.size() > max_lines ? all.size() - max_lines : 0;
  std::string out;
  for (std::size_t i = first; i < all.size(); ++i) out += "  " + all[i] + "\n";
  return out;
}

int leading_number(std::string_view text) {
  int value = -1;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::string markup_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace vorlane
