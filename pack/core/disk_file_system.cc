#include "pack/core/disk_file_system.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>

namespace vorlane {

std::optional<std::vector<std::string>> DiskFileSystem::list_directory(
    const std::string& path) const {
  const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.c_str()), &closedir);
  if (!dir) return std::nullopt;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir.get())) names.emplace_back(entry->d_name);
  return names;
}

bool DiskFileSystem::is_regular_file(const std::string& path) const {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace vorlane
