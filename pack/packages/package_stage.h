// The root a package installs, laid out in a scratch folder: the tree at
// its install dir, stripped, with the desktop files, the documentation and
// /usr/bin/NAME, every mode and time normalised.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "pack/core/error.h"
#include "pack/core/report.h"
#include "pack/image/archive_policy.h"
#include "pack/packages/package_plan.h"

namespace vorlane::packages {

/// The class list the install-time archive is made from, in lib/app.

struct StagedRoot {
  std::string root;        ///< the folder that stands for /
  std::string tree;        ///< root + the install dir
  PackageInfo info;        ///< the plan's, with the class list and the installed size
  std::string debug_file;  ///< the launcher's debug information; "" when it had none
  /// Staged files that keep the modification time the tree gave them.
  std::vector<std::pair<std::string, struct timespec>> kept_times;
  /// The runtime's archives only the tar.gz carries, staged in `tar_only`
  /// at their paths relative to the tree (the .deb and .rpm remake them).
  std::string tar_only;
  std::vector<std::string> tar_only_files;
};

/// Stages what `plan` says into `scratch`/root, reading the tree at `app_dir`.
Result<StagedRoot> stage_root(const PackagePlan& plan, const std::string& app_dir,
                              const std::string& scratch, const Report& report);

/// Writes the tree's install record for a package of `type`, when the plan
/// gives it one; the file and its folder get the package's epoch.
Status write_install_record(const StagedRoot& staged, PackageType type);

/// Gives the kept files their times back, after a writer normalised the root.
Status restore_kept_times(const StagedRoot& staged);

/// NAME_VERSION-RELEASE_ARCH.debug: the launcher's debug file beside the packages.
std::string debug_file_name(const PackageInfo& info);

}  // namespace vorlane::packages
