#include "launcher/instance_folder.h"

#include <sys/stat.h>

#include <cstdio>

namespace vorlane {

namespace {

std::string octal_mode(mode_t mode) {
  char octal[8];
  (void)std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode & 07777));
  return octal;
}

}  // namespace

std::string instance_folder(const char* xdg_runtime_dir, uid_t uid) {
  if (xdg_runtime_dir != nullptr && xdg_runtime_dir[0] == '/') {
    std::string folder = xdg_runtime_dir;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder == "/" ? "/vorlane" : folder + "/vorlane";
  }
  return "/tmp/vorlane-" + std::to_string(uid);
}

std::optional<std::string> folder_problem(const FolderFacts& facts, uid_t uid) {
  if (facts.is_link) return "is a symbolic link";
  if (!facts.is_directory) return "is not a folder";
  if (facts.owner != uid) {
    return "belongs to user " + std::to_string(facts.owner) + ", not to " + std::to_string(uid);
  }
  if ((facts.mode & 077) != 0) {
    return "has mode " + octal_mode(facts.mode) + ": others than its owner may use it";
  }
  return std::nullopt;
}

std::optional<std::string> parent_problem(const FolderFacts& parent, uid_t uid) {
  // The owner of a folder may rename what is in it, sticky or not.
  if (parent.owner != uid && parent.owner != 0) {
    return "may be renamed by others: its parent belongs to user " + std::to_string(parent.owner);
  }
  if ((parent.mode & 022) != 0 && (parent.mode & S_ISVTX) == 0) {
    return "may be renamed by others: its parent has mode " + octal_mode(parent.mode);
  }
  return std::nullopt;
}

}  // namespace vorlane
