#include "pack/packages/tar_writer.h"

#include <filesystem>

#include "pack/core/compress.h"
#include "pack/core/tools.h"

namespace vorlane::packages {

Status write_tar(const StagedRoot& staged, const PackageTools& tools, const std::string& scratch,
                 const std::string& out) {
  const std::string tar = scratch + "/tree.tar";
  const PackageInfo& info = staged.info;
  if (Result<std::string> r =
          run_tool("tar", {tools.tar, "--create", "--format=gnu", "--sort=name",
                           "--mtime=@" + std::to_string(info.source_date_epoch), "--owner=0",
                           "--group=0", "--numeric-owner", "--transform=s,^\\.," + info.name + ",S",
                           "-C", staged.tree, "-f", tar, "."});
      !r) {
    return r.error();
  }
  if (Status zipped = gzip_file(tar, out); !zipped) return zipped;
  std::error_code ec;
  std::filesystem::remove(tar, ec);
  return done();
}

}  // namespace vorlane::packages
