#include "pack/core/tree_times.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>

#include "pack/core/files.h"

namespace vorlane {

namespace fs = std::filesystem;

Status normalize_tree(const std::string& root, std::int64_t epoch) {
  const struct timespec times[2] = {{static_cast<time_t>(epoch), 0},
                                    {static_cast<time_t>(epoch), 0}};
  auto fix = [&](const fs::path& p) -> Status {
    struct stat st {};
    if (lstat(p.c_str(), &st) != 0) return system_failure("read the mode of", p);
    if (!S_ISLNK(st.st_mode)) {
      const bool exec = S_ISDIR(st.st_mode) || (st.st_mode & 0111) != 0;
      if (chmod(p.c_str(), exec ? 0755 : 0644) != 0) {
        return system_failure("set the mode of", p);
      }
    }
    if (utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
      return system_failure("set the time of", p);
    }
    return done();
  };
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (Status fixed = fix(it->path()); !fixed) return fixed;
  }
  if (ec) return step_failed("cannot walk " + root + ": " + ec.message());
  return fix(root);
}

}  // namespace vorlane
