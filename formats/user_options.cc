#include "formats/user_options.h"

#include <algorithm>

namespace vorlane::formats {

namespace {

// isspace() in the "C" locale, without depending on the process's locale:
// the JVM changes the locale while it starts.
bool is_c_space(unsigned char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

}  // namespace

bool starts_with_allowed_prefix(const std::string& token, const std::vector<std::string>& allowed) {
  return std::any_of(allowed.begin(), allowed.end(),
                     [&](const std::string& prefix) { return token.starts_with(prefix); });
}

std::optional<std::vector<std::string>> split_user_options(std::string_view value) {
  std::vector<std::string> tokens;
  std::string token;
  bool escaped = false;
  bool in_single = false;
  bool in_double = false;
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (escaped) {
      token += c;
      escaped = false;
    } else if (c == '\\') {
      escaped = true;
    } else if (c == '\'' && !in_double) {
      in_single = !in_single;
    } else if (c == '"' && !in_single) {
      in_double = !in_double;
    } else if (!is_c_space(byte) || in_single || in_double) {
      token += c;
    } else if (!token.empty()) {
      tokens.push_back(std::move(token));
      token.clear();
    }
  }
  if (escaped) token += '\\';
  if (in_single || in_double) return std::nullopt;
  if (!token.empty()) tokens.push_back(std::move(token));
  return tokens;
}

UserOptions check_user_options(const char* value, const std::vector<std::string>& allowed) {
  UserOptions result;
  if (value == nullptr || *value == '\0') return result;
  if (allowed.empty()) {
    result.outcome = UserOptions::Outcome::kNotEnabled;
    return result;
  }
  std::optional<std::vector<std::string>> tokens = split_user_options(value);
  if (!tokens) {
    result.outcome = UserOptions::Outcome::kUnterminatedQuote;
    return result;
  }
  for (std::string& token : *tokens) {
    if (!starts_with_allowed_prefix(token, allowed)) {
      result.outcome = UserOptions::Outcome::kDisallowed;
      result.disallowed = std::move(token);
      result.accepted.clear();
      return result;
    }
    result.accepted.push_back(std::move(token));
  }
  return result;
}

}  // namespace vorlane::formats
