// A Java runtime's `release` file and the version it names: what the packer
// and the feed writer both read to tell which class-data archives a runtime
// has and gets.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorlane::formats {

/// The value of `KEY="value"` in the text of a `release` file, quotes
/// removed; nullopt when no line sets `key`. The first such line counts.
std::optional<std::string> release_value(std::string_view release_text, std::string_view key);

/// JAVA_VERSION in the text of a `release` file, or "".
std::string release_java_version(std::string_view release_text);

/// The numbers of a Java version: FEATURE[.INTERIM[.UPDATE[...]]], then
/// nothing or "-PRE" / "+BUILD".
struct JavaVersion {
  int feature = 0;
  int interim = 0;
  int update = 0;
  bool operator==(const JavaVersion&) const = default;
};

/// The numbers of `text` ("25.0.3", "21", "26-ea"); nullopt when it is no
/// version of 9 or later ("1.8.0_412", "25.x", "").
std::optional<JavaVersion> parse_java_version(std::string_view text);

}  // namespace vorlane::formats
