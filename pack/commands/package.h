// `vorlane-pack package`: .deb, .rpm and .tar.gz packages of an app tree
// made by `vorlane-pack app`.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pack/packages/package_plan.h"

namespace CLI {
class App;
}

namespace vorlane {

class Report;

/// The facts `plan_packages` decides on, read from the tree, the files the
/// options name and the environment; nothing is changed and nothing is
/// written (readelf reads the tree's ELF files when a .deb or .rpm is wanted).
packages::PackageFacts probe_packages(const packages::PackageOptions& options);

/// Makes the packages in `dest`, replacing earlier ones of the same names.
/// Checks all input before writing anything. Reports on standard error and
/// returns the exit status: 0 made, 1 a step failed, 2 bad input or a
/// refusal (nothing written), 130 interrupted.
int make_packages(const packages::PackageOptions& options);

/// Moves every made file (staged path, final name) into `dest`, all or
/// none: earlier files of the same names go to `aside` first and come back
/// if a move fails. Says which earlier files were replaced.
Status put_in_place(const std::vector<std::pair<std::string, std::string>>& made,
                    const std::string& dest, const std::string& aside, const Report& report);

/// Adds the `package` command and its options, read into `options`, to `app`.
CLI::App* add_package_command(CLI::App& app, packages::PackageOptions& options);

}  // namespace vorlane
