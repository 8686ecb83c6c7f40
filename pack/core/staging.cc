#include "pack/core/staging.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "pack/core/files.h"

namespace fs = std::filesystem;

namespace vorlane {

namespace {

/// Opens `folder` and takes its lock without waiting; -1 when another
/// process holds it (or the folder cannot be opened).
int lock_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

/// Removes the staging folders of `final_path` that no live run holds.
void remove_abandoned(const fs::path& final_path) {
  // Appended, not "." + name: GCC 12 at -O3 sees a false overlap in the latter.
  std::string prefix = ".";
  prefix.append(final_path.filename().string()).append(".vorlane-");
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(final_path.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix) || !entry.is_directory(ec) || entry.is_symlink(ec)) continue;
    const int fd = lock_folder(entry.path().string());
    if (fd < 0) continue;  // a run at work
    std::error_code ignored;
    fs::remove_all(entry.path(), ignored);
    close(fd);
  }
}

}  // namespace

Result<StagingDir> StagingDir::create(const std::string& final_path) {
  const fs::path final_abs = fs::absolute(final_path).lexically_normal();
  std::error_code ec;
  fs::create_directories(final_abs.parent_path(), ec);
  if (ec) {
    return step_failed("cannot make " + final_abs.parent_path().string() + ": " + ec.message());
  }
  remove_abandoned(final_abs);
  // Beside the final place, so the commit is a rename within one file system.
  // Appended, not "." + name: GCC 12 at -O3 sees a false overlap in the latter.
  std::string name = ".";
  name.append(final_abs.filename().string()).append(".vorlane-XXXXXX");
  std::string pattern = (final_abs.parent_path() / name).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    return system_failure("make a folder in", final_abs.parent_path().string());
  }
  // mkdtemp makes it private; the app's folder is as open as any new folder.
  const mode_t mask = umask(0);
  umask(mask);
  chmod(pattern.c_str(), 0777 & ~mask);
  const int lock_fd = lock_folder(pattern);
  return StagingDir(final_abs.string(), pattern, lock_fd);
}

StagingDir::StagingDir(StagingDir&& other) noexcept
    : final_path_(std::move(other.final_path_)),
      path_(std::exchange(other.path_, std::string())),
      lock_fd_(std::exchange(other.lock_fd_, -1)) {}

StagingDir::~StagingDir() {
  if (!path_.empty()) {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  if (lock_fd_ >= 0) close(lock_fd_);
}

Status StagingDir::commit(bool replace_existing) {
  if (!replace_existing) {
    // rename replaces an empty folder, and fails on one that filled up meanwhile.
    if (rename(path_.c_str(), final_path_.c_str()) != 0)
      return system_failure("move the new tree to", final_path_);
    path_.clear();
    return done();
  }
  // Swap the trees in one step, so the app is never missing; the staging
  // folder then holds the old tree and goes with this object.
  if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, final_path_.c_str(), RENAME_EXCHANGE) == 0)
    return done();
  if (errno != EINVAL && errno != ENOSYS) return system_failure("replace", final_path_);
  // A file system without exchange: two renames, with a short gap. The old
  // tree goes to a name that later runs also clean up.
  const std::string old = path_ + "-old";
  if (rename(final_path_.c_str(), old.c_str()) != 0)
    return system_failure("move away", final_path_);
  if (rename(path_.c_str(), final_path_.c_str()) != 0) {
    const Error error = system_failure("move the new tree to", final_path_);
    (void)rename(old.c_str(), final_path_.c_str());
    return error;
  }
  path_ = old;
  return done();
}

}  // namespace vorlane
