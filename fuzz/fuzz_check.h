// Shared by the fuzz targets: how a target reports a broken property.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlane::fuzz {

/// Aborts with `what` on standard error unless `holds`, so the fuzzer keeps
/// the input that broke the property as a crash artifact.
inline void require(bool holds, const char* what) {
  if (holds) return;
  (void)std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

/// Splits `text` at the first occurrence of `separator`: the part before it
/// and the rest after it; without one, an empty first part and all of `text`.
inline std::pair<std::string_view, std::string_view> split_header(std::string_view text,
                                                                  std::string_view separator) {
  const std::size_t at = text.find(separator);
  if (at == std::string_view::npos) return {{}, text};
  return {text.substr(0, at), text.substr(at + separator.size())};
}

/// The parts of `text` between the `separator`s; a final empty part is left
/// out, so "a\n" has one line and "a:" one element.
inline std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  while (!text.empty()) {
    const std::size_t end = text.find(separator);
    parts.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return parts;
}

}  // namespace vorlane::fuzz
