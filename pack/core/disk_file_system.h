// The packer's disk for the class-path pass of formats/option_expansion.h,
// which it applies to the options of a training run as the launcher would.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "formats/file_system.h"

namespace vorlane {

/// The real disk: opendir/readdir and stat, as the launcher reads it, so a
/// wildcard expands to the same files in the same order.
class DiskFileSystem final : public formats::FileSystem {
 public:
  std::optional<std::vector<std::string>> list_directory(const std::string& path) const override;
  bool is_regular_file(const std::string& path) const override;
};

}  // namespace vorlane
