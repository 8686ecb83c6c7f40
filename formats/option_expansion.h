// Rewriting portable option texts into real paths: the app directory token
// "&&" and references to the user's home directory.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/file_system.h"

namespace vorlane::formats {

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

/// Brings every option into its final form, one after the other: the app
/// directory token, then home references, then class-path wildcards. When
/// `dump` is not null each final option is printed to it as "JVM arg %d: %s",
/// before the next option is touched. Never changes the number or order of
/// options, so the index printed is the option's index for the JVM.
void expand_options(std::vector<std::string>& options, std::string_view app_dir,
                    const HomeLookup& home, const FileSystem& fs, std::FILE* dump);

}  // namespace vorlane::formats
