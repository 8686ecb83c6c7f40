// Fuzz target: splitting and checking VORLANE_JVM_OPTIONS.
//
// Input: the allowed prefixes, one a line, then an empty line, then the
// variable's value; without an empty line the whole input is the value and
// nothing is allowed. The value is cut at a 0 byte, as an environment
// variable is.
//
// Beyond "no crash": tokens are never empty; tokens written back with every
// byte escaped, or single-quoted when they hold no quote or backslash, split
// to themselves; a value without quotes or backslashes splits exactly at
// white space; and the check's outcome agrees with the split and the
// allow-list.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/user_options.h"
#include "fuzz/fuzz_check.h"

namespace {

using vorlane::formats::UserOptions;
using vorlane::fuzz::require;
using Tokens = std::vector<std::string>;

bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string join(const Tokens& tokens, std::string (*quote)(const std::string&)) {
  std::string out;
  for (const std::string& token : tokens) out += " " + quote(token) + "\t";
  return out;
}

std::string escape_every_byte(const std::string& token) {
  std::string out;
  for (const char c : token) out += {'\\', c};
  return out;
}

std::string single_quote(const std::string& token) { return "'" + token + "'"; }

Tokens split_at_spaces(std::string_view value) {
  Tokens tokens;
  std::string token;
  for (const char c : value) {
    if (!is_c_space(c)) {
      token += c;
    } else if (!token.empty()) {
      tokens.push_back(std::move(token));
      token.clear();
    }
  }
  if (!token.empty()) tokens.push_back(std::move(token));
  return tokens;
}

bool allowed_by(const std::string& token, const Tokens& allowed) {
  return std::any_of(allowed.begin(), allowed.end(),
                     [&](const std::string& prefix) { return token.starts_with(prefix); });
}

void check_split(std::string_view value, const std::optional<Tokens>& tokens) {
  if (value.find_first_of("'\"\\") == std::string_view::npos) {
    require(tokens.has_value() && *tokens == split_at_spaces(value),
            "a value without quotes or backslashes splits at white space");
  }
  if (!tokens) return;
  for (const std::string& token : *tokens) require(!token.empty(), "tokens are never empty");
  require(vorlane::formats::split_user_options(join(*tokens, escape_every_byte)) == tokens,
          "tokens with every byte escaped split back to themselves");
  const bool quotable = std::none_of(tokens->begin(), tokens->end(), [](const std::string& t) {
    return t.find_first_of("'\\") != std::string::npos;
  });
  if (quotable) {
    require(vorlane::formats::split_user_options(join(*tokens, single_quote)) == tokens,
            "single-quoted tokens split back to themselves");
  }
}

void check_outcome(const std::string& value, const Tokens& allowed,
                   const std::optional<Tokens>& tokens, const UserOptions& result) {
  using Outcome = UserOptions::Outcome;
  if (value.empty()) {
    require(result.outcome == Outcome::kAccepted && result.accepted.empty(),
            "an empty value adds nothing");
  } else if (allowed.empty()) {
    require(result.outcome == Outcome::kNotEnabled, "without an allow-list a value is refused");
  } else if (!tokens) {
    require(result.outcome == Outcome::kUnterminatedQuote, "an open quote is reported");
  } else {
    const auto refused = std::find_if(tokens->begin(), tokens->end(), [&](const std::string& t) {
      return !allowed_by(t, allowed);
    });
    if (refused == tokens->end()) {
      require(result.outcome == Outcome::kAccepted && result.accepted == *tokens,
              "allowed tokens are all accepted, in order");
    } else {
      require(result.outcome == Outcome::kDisallowed && result.disallowed == *refused &&
                  result.accepted.empty(),
              "the first token without an allowed prefix is reported, and nothing accepted");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(bytes), size);
  const auto [header, rest] = vorlane::fuzz::split_header(input, "\n\n");
  Tokens allowed;
  for (const std::string_view line : vorlane::fuzz::split(header, '\n')) {
    allowed.emplace_back(line);
  }
  const std::string value(rest.substr(0, rest.find('\0')));

  const std::optional<Tokens> tokens = vorlane::formats::split_user_options(value);
  check_split(value, tokens);
  check_outcome(value, allowed, tokens,
                vorlane::formats::check_user_options(value.c_str(), allowed));
  return 0;
}
