// A disk made of directory listings, for the tests and the fuzz target of
// the class-path pass.
#pragma once

#include <map>
#include <set>

#include "formats/file_system.h"

namespace vorlane::formats {

/// Directories as listed (by path with its final '/') and the paths that are
/// regular files; a directory without a listing cannot be opened.
class FakeFileSystem final : public FileSystem {
 public:
  std::map<std::string, std::vector<std::string>> listings;
  std::set<std::string> regular_files;
  mutable std::size_t list_calls = 0;

  std::optional<std::vector<std::string>> list_directory(const std::string& path) const override {
    ++list_calls;
    const auto it = listings.find(path);
    if (it == listings.end()) return std::nullopt;
    return it->second;
  }
  bool is_regular_file(const std::string& path) const override {
    return regular_files.contains(path);
  }
};

}  // namespace vorlane::formats
