#include "pack/packages/base_archives.h"

#include <algorithm>
#include <string_view>

namespace vorlane::packages {

std::vector<std::string> archive_recorded_files(const std::vector<std::string>& jvm_options) {
  constexpr std::string_view kClassPath = "-Djava.class.path=";
  std::string class_path;
  for (const std::string& option : jvm_options) {
    if (option.starts_with(kClassPath)) class_path = option.substr(kClassPath.size());
  }
  std::vector<std::string> files;
  std::size_t start = 0;
  while (start <= class_path.size()) {
    std::size_t end = class_path.find(':', start);
    if (end == std::string::npos) end = class_path.size();
    const std::string entry = class_path.substr(start, end - start);
    // Only the tree's own jars; a wildcard names no file an archive records.
    if (entry.starts_with("&&/") && entry.size() > 3 && entry.find('*') == std::string::npos &&
        entry.find("/../") == std::string::npos && !entry.ends_with("/..")) {
      files.push_back("lib/app/" + entry.substr(3));
    }
    start = end + 1;
  }
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  return files;
}

long long clamp_epoch(long long epoch, const std::vector<long long>& times) {
  for (long long t : times) epoch = std::max(epoch, t);
  return epoch;
}

}  // namespace vorlane::packages
