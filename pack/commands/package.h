// `vorlane-pack package`: .deb, .rpm and .tar.gz packages of an app tree
// made by `vorlane-pack app`.
#pragma once

#include "pack/packages/package_plan.h"

namespace CLI {
class App;
}

namespace vorlane {

/// The facts `plan_packages` decides on, read from the tree, the files the
/// options name and the environment; nothing is changed and nothing is
/// written (readelf reads the tree's ELF files when a .deb or .rpm is wanted).
packages::PackageFacts probe_packages(const packages::PackageOptions& options);

/// Makes the packages in `dest`, replacing earlier ones of the same names.
/// Checks all input before writing anything. Reports on standard error and
/// returns the exit status: 0 made, 1 a step failed, 2 bad input or a
/// refusal (nothing written), 130 interrupted.
int make_packages(const packages::PackageOptions& options);

/// Adds the `package` command and its options, read into `options`, to `app`.
CLI::App* add_package_command(CLI::App& app, packages::PackageOptions& options);

}  // namespace vorlane
