// The .rpm of a staged package root.
#pragma once

#include <string>
#include <vector>

#include "pack/core/error.h"
#include "pack/packages/package_stage.h"

namespace vorlane::packages {

/// The paths the .rpm owns: the install dir, /usr/bin/NAME, its doc folder
/// and each file under the staged /usr/share.
std::vector<std::string> rpm_owned_paths(const StagedRoot& staged);

/// The .rpm at `out`, built by rpmbuild from a spec that copies the staged root.
Status write_rpm(const StagedRoot& staged, const PackageTools& tools, Compression compression,
                 const std::string& scratch, const std::string& out);

}  // namespace vorlane::packages
