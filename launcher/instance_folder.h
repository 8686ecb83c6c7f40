// Where the single-instance lock and socket live, and what that folder and
// its parent must be for no other user to take over either.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace vorlane {

/// The folder the lock and socket go in: $XDG_RUNTIME_DIR/vorlane when that
/// variable is an absolute path, else /tmp/vorlane-UID.
std::string instance_folder(const char* xdg_runtime_dir, uid_t uid);

/// What lstat/fstat says about the folder.
struct FolderFacts {
  bool is_directory = false;
  bool is_link = false;
  uid_t owner = 0;
  mode_t mode = 0;
};

/// Why the folder cannot hold the lock and socket; nullopt when it can. It
/// must be a directory, no link, owned by `uid`, with no access for group or
/// others.
std::optional<std::string> folder_problem(const FolderFacts& facts, uid_t uid);

/// Why the folder is unusable for what its parent (`parent`) allows;
/// nullopt when it is usable. Nobody but `uid` and root may rename it, so
/// the parent belongs to one of them and is writable by no one else, or is
/// sticky.
std::optional<std::string> parent_problem(const FolderFacts& parent, uid_t uid);

}  // namespace vorlane
