// The `package` subcommand of vorlane-pack: its options on the command line.
#pragma once

#include <CLI/CLI.hpp>

#include "pack/packages/package_writer.h"

namespace vorlane::packages {

/// Adds `package` to `app`, filling `options` when it is parsed; returns it.
CLI::App* add_package_command(CLI::App& app, PackageOptions& options);

}  // namespace vorlane::packages
