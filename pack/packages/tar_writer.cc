#include "pack/packages/tar_writer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <vector>

#include "pack/core/compress.h"
#include "pack/core/files.h"
#include "pack/core/tools.h"

namespace vorlane::packages {

Status write_tar(const StagedRoot& staged, const PackageTools& tools, const std::string& scratch,
                 const std::string& out) {
  const std::string tar = scratch + "/tree.tar";
  const PackageInfo& info = staged.info;
  namespace fs = std::filesystem;
  std::error_code ec;
  // The runtime's archives that only the tar.gz carries join the tree for
  // this one run of tar.
  std::vector<std::string> joined;
  const struct timespec epoch[2] = {{static_cast<time_t>(info.source_date_epoch), 0},
                                    {static_cast<time_t>(info.source_date_epoch), 0}};
  // A link added or removed changes its folder's time, which goes into the packages.
  auto reset_folders = [&]() -> Status {
    for (const std::string& path : joined) {
      if (utimensat(AT_FDCWD, fs::path(path).parent_path().c_str(), epoch, 0) != 0) {
        return step_failed(system_error("set the time of", fs::path(path).parent_path()));
      }
    }
    return done();
  };
  for (const std::string& file : staged.tar_only_files) {
    fs::create_hard_link(staged.tar_only + "/" + file, staged.tree + "/" + file, ec);
    if (ec) return step_failed("cannot add " + file + " to the tar.gz: " + ec.message());
    joined.push_back(staged.tree + "/" + file);
  }
  if (Status reset = reset_folders(); !reset) return reset;
  // No --mtime: the staged times are the epoch, or those the tree's app
  // archive recorded.
  const Result<std::string> r =
      run_tool("tar", {tools.tar, "--create", "--format=gnu", "--sort=name", "--owner=0",
                       "--group=0", "--numeric-owner", "--transform=s,^\\.," + info.name + ",S",
                       "-C", staged.tree, "-f", tar, "."});
  for (const std::string& path : joined) fs::remove(path, ec);
  if (Status reset = reset_folders(); !reset) return reset;
  if (!r) return r.error();
  if (Status zipped = gzip_file(tar, out); !zipped) return zipped;
  fs::remove(tar, ec);
  return done();
}

}  // namespace vorlane::packages
