// What the class-path pass asks of the disk, behind an interface so the pass
// can be tested against a fake listing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "launcher/sys.h"

namespace vorlane {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  /// The names in directory `path` in listing order, "." and ".." included;
  /// nullopt when it cannot be opened.
  virtual std::optional<std::vector<std::string>> list_directory(const std::string& path) const = 0;
  /// Whether `path` names a regular file, symbolic links followed.
  virtual bool is_regular_file(const std::string& path) const = 0;
};

/// The real disk: opendir/readdir and stat.
class SystemFileSystem final : public FileSystem {
 public:
  std::optional<std::vector<std::string>> list_directory(const std::string& path) const override {
    sys::SysResult<std::vector<std::string>> names = sys::list_directory(path);
    if (!names.ok()) return std::nullopt;
    return std::move(names.value);
  }
  bool is_regular_file(const std::string& path) const override {
    return sys::is_regular_file(path);
  }
};

}  // namespace vorlane
