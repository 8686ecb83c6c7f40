// An app tree on disk: what may be replaced, and which jars an input holds.
#pragma once

#include <string>
#include <vector>

#include "pack/core/error.h"
#include "pack/core/files.h"
#include "pack/image/marker.h"

namespace vorlane {

/// What is at the place a new app tree goes.
enum class Destination {
  kAbsent,         ///< nothing
  kEmpty,          ///< an empty folder
  kEarlierOutput,  ///< a tree made by `vorlane-pack app`, holding only what the packer made
};

/// What is at `path`; a refusal when it is anything else (a user's folder,
/// a file, a link, or a tree of the packer's that holds files a user
/// added, which are listed), which the packer must not replace.
Result<Destination> check_destination(const std::string& path);

/// Writes the marker that tells a tree is the packer's own.
Status write_marker(const std::string& path, const AppMarker& marker);

/// Reads the marker of the tree at `app_dir`; a refusal naming the tree
/// when it has none (it is no tree of the packer's) or an unreadable one.
Result<AppMarker> read_marker(const std::string& app_dir);

/// The regular files named *.jar among `entries`, in their order.
std::vector<std::string> jars_among(const std::vector<TreeEntry>& entries);

/// Every path under the folder `root`, relative to it, parents first; for
/// the marker's record of what the packer made.
std::vector<std::string> paths_under(const std::string& root);

/// Whether the folders `a` and `b` are the same or one holds the other,
/// comparing their absolute paths with links resolved as far as they exist.
bool paths_overlap(const std::string& a, const std::string& b);

}  // namespace vorlane
