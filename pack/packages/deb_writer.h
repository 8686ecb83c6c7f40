// The .deb of a staged package root.
#pragma once

#include <string>

#include "pack/core/error.h"
#include "pack/packages/package_stage.h"

namespace vorlane::packages {

/// The .deb at `out`. Adds the Debian-only files (changelog, lintian
/// overrides, DEBIAN/) to the staged root, so it is written last.
Status write_deb(const StagedRoot& staged, const PackageTools& tools, Compression compression,
                 const std::string& scratch, const std::string& out);

}  // namespace vorlane::packages
