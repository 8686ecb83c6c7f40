// The folders of an app tree on disk: what may be replaced, which jars an
// input holds, and building a new tree beside the old one so that the old
// one is replaced whole or not at all.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vorlane {

/// What is at the place a new app tree goes.
enum class Destination {
  kAbsent,         ///< nothing
  kEmpty,          ///< an empty folder
  kEarlierOutput,  ///< a tree made by `vorlane-pack app`, with nothing added to its top
};

/// What is at `path`; nullopt and the reason in `error` when it is anything
/// else (a user's folder, a file, a link), which the packer must not replace.
std::optional<Destination> check_destination(const std::string& path, std::string& error);

/// Every regular file (links followed) named *.jar under `dir`, at any depth,
/// as paths relative to `dir`, in byte order. Nullopt and the reason in
/// `error` when `dir` cannot be read.
std::optional<std::vector<std::string>> find_jars(const std::string& dir, std::string& error);

/// Whether the folders `a` and `b` are the same or one holds the other,
/// comparing their absolute paths with links resolved as far as they exist.
bool paths_overlap(const std::string& a, const std::string& b);

/// Copies the tree at `from` to the new folder `to`. Links are followed
/// (`keep_links` false: the copy stands on its own) or copied as links.
bool copy_tree(const std::string& from, const std::string& to, bool keep_links, std::string& error);

/// A new, hidden folder beside `final_path` in which a tree is built. It is
/// removed with everything in it unless `commit` put it in place.
class StagingDir {
 public:
  /// Makes the folder (and `final_path`'s parent, if missing).
  static std::optional<StagingDir> create(const std::string& final_path, std::string& error);
  StagingDir(StagingDir&& other) noexcept;
  StagingDir& operator=(StagingDir&&) = delete;
  ~StagingDir();

  const std::string& path() const { return path_; }

  /// Puts the staged tree at `final_path` in one rename, replacing what
  /// `existing` says is there. The replaced tree is removed.
  bool commit(Destination existing, std::string& error);

 private:
  StagingDir(std::string final_path, std::string path)
      : final_path_(std::move(final_path)), path_(std::move(path)) {}
  std::string final_path_;
  std::string path_;  ///< empty once committed or moved from
};

}  // namespace vorlane
