// Class-path wildcards: "dir/*" and "dir/*.jar" elements become the files they name.
#pragma once

#include <string>
#include <string_view>

#include "formats/file_system.h"

namespace vorlane::formats {

/// Rewrites the class path in `option`, if it holds one of the keys
/// "-Djava.class.path=", "-cp " or "-classpath " (searched in that order of
/// priority, anywhere in the option). The value after the key is split at
/// ':'; wildcard elements are replaced by what `expand_wildcard` gives, and
/// the elements are joined again. An empty element is dropped while nothing
/// has been written yet, and a trailing ':' is dropped. An option without a
/// key is left untouched.
void expand_class_path(std::string& option, const FileSystem& fs);

/// Whether `element` is a wildcard: longer than 5 bytes and ending in
/// "*.jar", or ending in "*".
bool is_wildcard_element(std::string_view element);

/// The files a wildcard element names, joined by ':' in listing order: for
/// "*", every regular file of the directory; for "*.jar", those whose name is
/// longer than 4 bytes and ends in ".jar". Links are followed. The directory
/// part (up to the last '/' or '\') is used as written, "./" when there is
/// none. Returns the element itself when nothing matches or the directory
/// cannot be listed.
std::string expand_wildcard(std::string_view element, const FileSystem& fs);

}  // namespace vorlane::formats
