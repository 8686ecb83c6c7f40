// JVM options a user adds through VORLANE_JVM_OPTIONS.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane::formats {

inline constexpr const char kUserOptionsVariable[] = "VORLANE_JVM_OPTIONS";
inline constexpr const char kUserOptionsNotEnabled[] =
    "VORLANE_JVM_OPTIONS is not enabled for this app.";
inline constexpr const char kUnterminatedQuote[] = "Unterminated quote in VORLANE_JVM_OPTIONS.";
inline constexpr const char kDisallowedOptionPrefix[] =
    "Disallowed JVM option in VORLANE_JVM_OPTIONS: ";
inline constexpr const char kInvalidOptionTitle[] = "Invalid JVM option";

/// Splits `value` like a shell would, without expanding anything: white
/// space (the "C" locale's) separates tokens outside quotes; single and
/// double quotes only switch quoting on and off; a backslash takes the next
/// byte literally everywhere, also inside single quotes; a trailing lone
/// backslash is kept. Tokens are never empty. Returns nullopt when a quote is
/// still open at the end.
std::optional<std::vector<std::string>> split_user_options(std::string_view value);

/// The allow-list's rule, for the variable and the options file alike:
/// whether `token` starts with one of the `allowed` prefixes.
bool starts_with_allowed_prefix(const std::string& token, const std::vector<std::string>& allowed);

/// What the launcher does with the value of VORLANE_JVM_OPTIONS.
struct UserOptions {
  enum class Outcome {
    kAccepted,           ///< `accepted` holds the options to append (maybe none)
    kNotEnabled,         ///< a value was given but the allow-list is empty
    kUnterminatedQuote,  ///< the value left a quote open
    kDisallowed,         ///< `disallowed` matched no allowed prefix
  };
  Outcome outcome = Outcome::kAccepted;
  std::vector<std::string> accepted;
  std::string disallowed;
};

/// Checks the variable's `value` (null when unset) against the allowed
/// prefixes, in this order: enabled at all, quotes closed, then each token
/// in turn, the first that starts with no allowed prefix ending the check.
UserOptions check_user_options(const char* value, const std::vector<std::string>& allowed);

}  // namespace vorlane::formats
