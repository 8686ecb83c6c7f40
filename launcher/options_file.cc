#include "launcher/options_file.h"

#include <algorithm>

#include "formats/user_options.h"
#include "launcher/user_dirs.h"

namespace vorlane {

using formats::starts_with_allowed_prefix;

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trimmed(std::string_view line) {
  while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && is_blank(line.back())) line.remove_suffix(1);
  return line;
}

bool is_text(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7F;
  });
}

}  // namespace

std::optional<std::string> options_file_path(const char* xdg_config_home, const char* home,
                                             std::string_view app_name) {
  std::optional<std::string> dir = user_app_dir(xdg_config_home, home, ".config", app_name);
  if (!dir) return std::nullopt;
  return *dir + "/" + std::string(kOptionsFileName);
}

OptionsFile parse_options_file(std::string_view text, std::string_view path,
                               const std::vector<std::string>& allowed) {
  OptionsFile result;
  const std::string where(path);
  if (!is_text(text)) {
    result.notes.push_back(where + " is not text; its JVM options are left out.");
    return result;
  }
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = trimmed(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty() || line.front() == '#') continue;
    const std::string at = where + " line " + std::to_string(number);
    if (line.size() > kOptionsLineCap) {
      result.notes.push_back(at + " is longer than " + std::to_string(kOptionsLineCap) +
                             " bytes; left out.");
    } else if (allowed.empty()) {
      result.accepted.clear();
      result.notes = {where +
                      ": this app takes no JVM options from its user; the file is left out."};
      return result;
    } else if (!starts_with_allowed_prefix(std::string(line), allowed)) {
      result.notes.push_back(at + ": JVM option " + std::string(line) +
                             " is not allowed for this app; left out.");
    } else {
      result.accepted.emplace_back(line);
    }
  }
  return result;
}

}  // namespace vorlane
