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
namespace {

namespace fs = std::filesystem;

/// `layout`/NAME with bin/NAME, a link to ../versions/VERSION/bin/LAUNCHER,
/// and an empty versions/, every time the package's epoch; the tree's place
/// in the tar.gz, NAME/versions/VERSION.
Result<std::string> make_layout(const PackageInfo& info, const std::string& layout) {
  const std::string version = info.version + "-" + info.release;
  const std::string top = layout + "/" + info.name;
  std::error_code ec;
  fs::create_directories(top + "/bin", ec);
  if (!ec) fs::create_directories(top + "/versions", ec);
  if (!ec) {
    fs::create_symlink("../versions/" + version + "/bin/" + info.launcher,
                       top + "/bin/" + info.name, ec);
  }
  if (ec) return step_failed("cannot lay out " + top + ": " + ec.message());
  const auto epoch = static_cast<time_t>(info.source_date_epoch);
  const struct timespec times[2] = {{epoch, 0}, {epoch, 0}};
  for (const std::string& path :
       {top + "/bin/" + info.name, top + "/bin", top + "/versions", top}) {
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
      return system_failure("set the time of", path);
    }
  }
  return info.name + "/versions/" + version;
}

}  // namespace

Status write_tar(const StagedRoot& staged, const PackageTools& tools, Compression compression,
                 const std::string& scratch, const std::string& out) {
  const std::string tar = scratch + "/tree.tar";
  const PackageInfo& info = staged.info;
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
        return system_failure("set the time of", fs::path(path).parent_path());
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
  std::vector<std::string> argv = {tools.tar,         "--create",  "--format=gnu",
                                   "--sort=name",     "--owner=0", "--group=0",
                                   "--numeric-owner", "-f",        tar};
  if (info.update_feed_key.empty()) {
    argv.insert(argv.end(), {"--transform=s,^\\.," + info.name + ",S", "-C", staged.tree, "."});
  } else {
    // Self-updating: NAME/versions/VERSION/ is the tree and NAME/bin/NAME
    // links to its launcher; an update adds a version beside it and moves
    // the link. The tree's names start with "./", the layout's with NAME.
    const std::string layout = scratch + "/layout";
    Result<std::string> made = make_layout(info, layout);
    if (!made) return made.error();
    argv.insert(argv.end(), {"--transform=s,^\\.," + *made + ",S", "-C", layout, info.name, "-C",
                             staged.tree, "."});
  }
  const Result<std::string> r = run_tool("tar", argv);
  for (const std::string& path : joined) fs::remove(path, ec);
  if (Status reset = reset_folders(); !reset) return reset;
  if (!r) return r.error();
  const int level = compression == Compression::kFast ? 1 : 9;
  if (Status zipped = gzip_file(tar, out, level); !zipped) return zipped;
  fs::remove(tar, ec);
  return done();
}

}  // namespace vorlane::packages
