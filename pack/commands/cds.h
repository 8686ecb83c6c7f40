// `vorlane-pack cds`: the class-data archive of an installed app tree,
// remade in place.
#pragma once

#include <string>
#include <vector>

namespace vorlane {

/// The options of `vorlane-pack cds`.
struct CdsOptions {
  std::string app_dir;
  std::vector<std::string> training_args;  ///< empty: those recorded when the tree was made
  std::string emulator;
  int training_timeout = 120;
  bool quiet = false;
};

/// Makes the app archive of the installed tree again, in place (and the
/// runtime's default archive, if it has none). Returns the exit status.
int remake_archive(const CdsOptions& options);

}  // namespace vorlane
