#include "pack/packages/deb_writer.h"

#include <algorithm>
#include <filesystem>

#include "pack/core/compress.h"
#include "pack/core/files.h"
#include "pack/core/tools.h"
#include "pack/core/tree_times.h"
#include "pack/packages/base_archives.h"
#include "pack/packages/package_scripts.h"

namespace vorlane::packages {
namespace {

namespace fs = std::filesystem;

Status write_text(const std::string& path, const std::string& text, unsigned mode) {
  std::error_code ec;
  fs::create_directories(fs::path(path).parent_path(), ec);
  if (ec) return step_failed("cannot make the folder of " + path + ": " + ec.message());
  return write_file_atomically(path, text, mode);
}

}  // namespace

Status write_deb(const StagedRoot& staged, const PackageTools& tools, Compression compression,
                 const std::string& scratch, const std::string& out) {
  const PackageInfo& info = staged.info;
  const std::string& root = staged.root;
  const std::string doc = root + "/usr/share/doc/" + info.name;
  const std::string changelog = scratch + "/changelog.Debian";
  if (Status s = write_text(changelog, deb_changelog(info), 0644); !s) return s;
  if (Status s = gzip_file(changelog, doc + "/changelog.Debian.gz"); !s) return s;
  if (info.install_dir.starts_with("/opt/")) {
    // Policy leaves /opt to add-on software such as this; lintian flags every file there.
    const std::string overrides = "# The app's tree is add-on software in " + info.install_dir +
                                  ".\n" + info.name + ": dir-or-file-in-opt [" +
                                  info.install_dir.substr(1) + "/*]\n";
    if (Status s = write_text(root + "/usr/share/lintian/overrides/" + info.name, overrides, 0644);
        !s) {
      return s;
    }
  }
  if (Status s = normalize_tree(root + "/usr/share", info.source_date_epoch); !s) return s;
  // md5sums of every file, relative to the root.
  std::vector<std::string> argv = {tools.env, "-C", root, tools.md5sum, "--"};
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file() && !it->is_symlink()) {
      files.push_back(it->path().string().substr(root.size() + 1));
    }
  }
  if (ec) return step_failed("cannot walk " + root + ": " + ec.message());
  std::sort(files.begin(), files.end());
  argv.insert(argv.end(), files.begin(), files.end());
  Result<std::string> sums = run_tool("md5sum", argv);
  if (!sums) return sums.error();
  const std::string control_dir = root + "/DEBIAN";
  if (Status s = write_text(control_dir + "/control", deb_control(info), 0644); !s) return s;
  if (Status s = write_text(control_dir + "/md5sums", *sums, 0644); !s) return s;
  for (const auto& [name, text] :
       {std::pair{"postinst", deb_postinst(info)}, std::pair{"prerm", deb_prerm(info)},
        std::pair{"postrm", deb_postrm(info)}}) {
    if (text.empty()) continue;
    if (Status s = write_text(control_dir + "/" + name, text, 0755); !s) return s;
  }
  if (Status s = normalize_tree(root, info.source_date_epoch); !s) return s;
  if (Status s = restore_kept_times(staged); !s) return s;
  // dpkg-deb clamps every time to SOURCE_DATE_EPOCH: given the newest kept
  // time, it changes none, and the member times still follow the inputs.
  std::vector<long long> kept;
  for (const auto& [path, mtime] : staged.kept_times) kept.push_back(mtime.tv_sec);
  const long long epoch = clamp_epoch(info.source_date_epoch, kept);
  // xz at its default level, 0.55x the size of gzip, or at its fastest;
  // its threaded encoder makes the same bytes for any number of threads.
  const char* level = compression == Compression::kFast ? "-z0" : "-z6";
  if (Result<std::string> r = run_tool(
          "dpkg-deb", {tools.env, "SOURCE_DATE_EPOCH=" + std::to_string(epoch), tools.dpkg_deb,
                       "--root-owner-group", "-Zxz", level, "--build", root, out});
      !r) {
    return r.error();
  }
  return done();
}

}  // namespace vorlane::packages
