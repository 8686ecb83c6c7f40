// The marker file in lib/ of a tree made by `vorlane-pack app`: what it
// records, and its format.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pack/core/error.h"
#include "pack/image/archive_policy.h"

namespace vorlane {

/// The file in lib/ that marks a tree as made by `vorlane-pack app`.
inline constexpr char kMarkerName[] = "vorlane-app.conf";

/// What `lib/vorlane-app.conf` records: the launcher's name, so `vorlane-pack
/// cds` finds it; the training arguments, so it can repeat the run; and
/// every path the packer made in the tree, so that making it again replaces
/// those and nothing a user added. Values are escaped to one line each.
struct AppMarker {
  std::string name;
  std::vector<std::string> training_args;
  /// Relative to the tree; empty in markers of packers that did not record them.
  std::vector<std::string> made;
  /// The kind of app archive the tree has; none when made without one (or
  /// by a packer that did not record it).
  std::optional<ArchiveKind> archive;
};

std::string format_marker(const AppMarker& marker);
/// Reads a marker; refused, with the reason, when it names no launcher.
Result<AppMarker> parse_marker(const std::string& text);

}  // namespace vorlane
