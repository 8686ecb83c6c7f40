// The launcher's disk for the class-path pass: its system-call layer.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "formats/file_system.h"
#include "launcher/sys.h"

namespace vorlane {

/// The real disk: opendir/readdir and stat.
class SystemFileSystem final : public formats::FileSystem {
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
