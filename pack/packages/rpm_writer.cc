#include "pack/packages/rpm_writer.h"

#include <algorithm>
#include <filesystem>

#include "pack/core/files.h"
#include "pack/core/tools.h"
#include "pack/packages/base_archives.h"
#include "pack/packages/package_scripts.h"

namespace vorlane::packages {

namespace fs = std::filesystem;

/// xz at level 6, or 0 for Compression::kFast, with its threaded encoder
/// on two threads.
constexpr char kRpmPayload[] = "w6T2.xzdio";
constexpr char kRpmFastPayload[] = "w0T2.xzdio";

std::vector<std::string> rpm_owned_paths(const StagedRoot& staged) {
  const PackageInfo& info = staged.info;
  std::vector<std::string> files = {info.install_dir, "/usr/bin/" + info.name,
                                    "/usr/share/doc/" + info.name};
  std::error_code ec;
  const std::string share = staged.root + "/usr/share";
  for (auto it = fs::recursive_directory_iterator(share, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string path = it->path().string().substr(staged.root.size());
    if (path == "/usr/share/doc") it.disable_recursion_pending();
    if (it->is_regular_file()) files.push_back(path);
  }
  std::sort(files.begin() + 3, files.end());
  return files;
}

Status write_rpm(const StagedRoot& staged, const PackageTools& tools, Compression compression,
                 const std::string& scratch, const std::string& out) {
  const PackageInfo& info = staged.info;
  const std::string top = scratch + "/rpm";
  std::error_code ec;
  fs::create_directories(top + "/tmp", ec);
  if (ec) return step_failed("cannot make the folder " + top + "/tmp: " + ec.message());
  // The .rpm's own files: the update site's repository file and key.
  std::string rpm_root;
  if (!info.update_site.empty()) {
    rpm_root = top + "/own";
    for (const auto& [path, text] : {std::pair{yum_repo_path(info), yum_repo(info)},
                                     std::pair{rpm_key_path(info), info.update_key}}) {
      fs::create_directories(fs::path(rpm_root + path).parent_path(), ec);
      if (ec) return step_failed("cannot make a folder in " + rpm_root + ": " + ec.message());
      if (Status written = write_file_atomically(rpm_root + path, text, 0644); !written) {
        return written;
      }
    }
  }
  const std::string spec = top + "/" + info.name + ".spec";
  const std::string text = rpm_spec(info, staged.root, rpm_owned_paths(staged), rpm_root);
  if (Status written = write_file_atomically(spec, text, 0644); !written) {
    return written;
  }
  // rpmbuild clamps every time to SOURCE_DATE_EPOCH, the %ghost files' too
  // (which it would otherwise give the clock's): given the newest kept time,
  // it changes no staged time, and the package still follows the inputs.
  std::vector<long long> kept;
  for (const auto& [path, mtime] : staged.kept_times) kept.push_back(mtime.tv_sec);
  const long long epoch = clamp_epoch(info.source_date_epoch, kept);
  const std::string payload = compression == Compression::kFast ? kRpmFastPayload : kRpmPayload;
  if (Result<std::string> r = run_tool("rpmbuild", {tools.env,
                                                    "SOURCE_DATE_EPOCH=" + std::to_string(epoch),
                                                    tools.rpmbuild,
                                                    "-bb",
                                                    "--quiet",
                                                    "--target",
                                                    info.arch.rpm,
                                                    "--define",
                                                    "_topdir " + top,
                                                    "--define",
                                                    "_buildhost localhost",
                                                    "--define",
                                                    "use_source_date_epoch_as_buildtime 1",
                                                    "--define",
                                                    "clamp_mtime_to_source_date_epoch 1",
                                                    "--define",
                                                    "_binary_payload " + payload,
                                                    "--define",
                                                    "_rpmfilename %%{NAME}.rpm",
                                                    "--define",
                                                    "_tmppath " + top + "/tmp",
                                                    spec});
      !r) {
    return r.error();
  }
  fs::rename(top + "/RPMS/" + info.name + ".rpm", out, ec);
  if (ec) return step_failed("rpmbuild made no " + info.name + ".rpm: " + ec.message());
  fs::remove_all(top, ec);
  return done();
}

}  // namespace vorlane::packages
