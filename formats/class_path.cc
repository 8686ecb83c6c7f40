#include "formats/class_path.h"

namespace vorlane::formats {

namespace {

// In order of priority: the first key present wins wherever the others stand.
constexpr std::string_view kClassPathKeys[] = {"-Djava.class.path=", "-cp ", "-classpath "};

bool matches(std::string_view pattern, std::string_view name) {
  if (pattern == "*") return true;
  return pattern == "*.jar" && name.size() > 4 && name.ends_with(".jar");
}

}  // namespace

bool is_wildcard_element(std::string_view element) {
  if (element.size() > 5 && element.ends_with("*.jar")) return true;
  return !element.empty() && element.back() == '*';
}

std::string expand_wildcard(std::string_view element, const FileSystem& fs) {
  const std::size_t separator = element.find_last_of("/\\");
  const std::string directory =
      separator == std::string_view::npos ? "./" : std::string(element.substr(0, separator + 1));
  const std::string_view pattern =
      separator == std::string_view::npos ? element : element.substr(separator + 1);

  const std::optional<std::vector<std::string>> names = fs.list_directory(directory);
  if (!names) return std::string(element);
  std::string matched;
  for (const std::string& name : *names) {
    if (name == "." || name == "..") continue;
    const std::string path = directory + name;
    // Every entry is examined before the pattern is, as the listing is
    // what decides which files exist.
    if (!fs.is_regular_file(path) || !matches(pattern, name)) continue;
    if (!matched.empty()) matched += ':';
    matched += path;
  }
  return matched.empty() ? std::string(element) : matched;
}

void expand_class_path(std::string& option, const FileSystem& fs) {
  std::size_t value_start = std::string::npos;
  for (const std::string_view key : kClassPathKeys) {
    const std::size_t at = option.find(key);
    if (at != std::string::npos) {
      value_start = at + key.size();
      break;
    }
  }
  if (value_start == std::string::npos) return;

  const std::string_view value = std::string_view(option).substr(value_start);
  std::string rewritten;
  std::size_t offset = 0;
  while (offset < value.size()) {
    std::size_t colon = value.find(':', offset);
    if (colon == std::string_view::npos) colon = value.size();
    const std::string_view element = value.substr(offset, colon - offset);
    if (!rewritten.empty()) rewritten += ':';
    if (is_wildcard_element(element)) {
      rewritten += expand_wildcard(element, fs);
    } else {
      rewritten += element;
    }
    offset = colon + 1;
  }
  option.replace(value_start, std::string::npos, rewritten);
}

}  // namespace vorlane::formats
