#include "formats/java_release.h"

#include <cctype>
#include <iterator>

#include "formats/text_split.h"

namespace vorlane::formats {

std::optional<std::string> release_value(std::string_view release_text, std::string_view key) {
  for (const std::string& line : split_lines(release_text)) {
    if (!line.starts_with(key) || line.size() <= key.size() || line[key.size()] != '=') continue;
    std::string value = line.substr(key.size() + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    return value;
  }
  return std::nullopt;
}

std::string release_java_version(std::string_view release_text) {
  return release_value(release_text, "JAVA_VERSION").value_or("");
}

std::optional<JavaVersion> parse_java_version(std::string_view text) {
  std::size_t at = 0;
  // The next number; nullopt when there is no digit or it is too large.
  const auto number = [&text, &at]() -> std::optional<int> {
    const std::size_t start = at;
    int value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at) {
      value = value * 10 + (text[at] - '0');
      if (value > 100000) return std::nullopt;
    }
    return at == start ? std::nullopt : std::optional<int>(value);
  };
  JavaVersion version;
  int* const parts[] = {&version.feature, &version.interim, &version.update};
  for (std::size_t i = 0;; ++i) {
    const std::optional<int> value = number();
    if (!value) return std::nullopt;
    if (i < std::size(parts)) *parts[i] = *value;
    if (at == text.size() || text[at] == '-' || text[at] == '+') break;
    if (text[at] != '.') return std::nullopt;
    ++at;
  }
  // Versions before 9 read "1.8.0_412"; the packer needs modules, so 9 or later.
  if (version.feature < 9) return std::nullopt;
  return version;
}

}  // namespace vorlane::formats
