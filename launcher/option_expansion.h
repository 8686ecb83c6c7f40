// Rewriting portable option texts into real paths: the app directory token
// "&&" and references to the user's home directory.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace vorlane {

/// Replaces every "&&" in `option`, left to right and never overlapping, by
/// `app_dir`. Inserted text is not searched again, so "&" in `app_dir` is safe.
void replace_app_dir_token(std::string& option, std::string_view app_dir);

/// Reads HOME: its value, or null when it is unset.
using HomeLookup = std::function<const char*()>;

/// Expands home references in `option`: "=~/" and then ":~/" anywhere (the
/// "~/" becomes HOME + "/", only when HOME is set and not empty), then a
/// leading "~/" (whenever HOME is set, even to ""). `home` is asked afresh
/// for every reference found. Any other "~" is ordinary text.
void expand_home(std::string& option, const HomeLookup& home);

}  // namespace vorlane
