// Building a tree beside its final place, so that the tree there is
// replaced whole or not at all.
#pragma once

#include <optional>
#include <string>

#include "pack/core/error.h"

namespace vorlane {

/// A new, hidden folder `.NAME.vorlane-XXXXXX` beside `final_path` in which
/// a tree is built. It is removed with everything in it unless `commit` put
/// it in place. While it lives it holds a lock on the folder, by which later
/// runs tell the folder of a killed run (no lock: removed) from that of a
/// run still at work.
class StagingDir {
 public:
  /// Makes the folder (and `final_path`'s parent, if missing), first
  /// removing those that killed runs left beside `final_path`.
  static Result<StagingDir> create(const std::string& final_path);
  StagingDir(StagingDir&& other) noexcept;
  StagingDir& operator=(StagingDir&&) = delete;
  ~StagingDir();

  const std::string& path() const { return path_; }

  /// Puts the staged tree at `final_path` in one rename. When
  /// `replace_existing`, the tree there is swapped out and removed;
  /// otherwise the place must be absent or an empty folder.
  Status commit(bool replace_existing);

 private:
  StagingDir(std::string final_path, std::string path, int lock_fd)
      : final_path_(std::move(final_path)), path_(std::move(path)), lock_fd_(lock_fd) {}
  std::string final_path_;
  std::string path_;  ///< empty once committed or moved from
  int lock_fd_ = -1;
};

}  // namespace vorlane
