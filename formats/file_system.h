// What the class-path pass asks of the disk, behind an interface so the pass
// can be tested against a fake listing. The launcher and the packer each
// implement it over their own system-call layer.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vorlane::formats {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  /// The names in directory `path` in listing order, "." and ".." included;
  /// nullopt when it cannot be opened.
  virtual std::optional<std::vector<std::string>> list_directory(const std::string& path) const = 0;
  /// Whether `path` names a regular file, symbolic links followed.
  virtual bool is_regular_file(const std::string& path) const = 0;
};

}  // namespace vorlane::formats
