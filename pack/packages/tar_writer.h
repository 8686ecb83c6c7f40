// The .tar.gz of a staged package root.
#pragma once

#include <string>

#include "pack/core/error.h"
#include "pack/packages/package_stage.h"

namespace vorlane::packages {

/// NAME-VERSION-linux-ARCH.tar.gz at `out`: the installed tree under NAME/,
/// owned by root, in name order, every time the package's epoch. With a
/// feed key, the tree is under NAME/versions/VERSION-RELEASE/ and
/// NAME/bin/NAME links to its launcher, so the install can update itself.
Status write_tar(const StagedRoot& staged, const PackageTools& tools, Compression compression,
                 const std::string& scratch, const std::string& out);

}  // namespace vorlane::packages
