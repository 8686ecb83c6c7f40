// `vorlane-pack publish`: its options on the command line.
#pragma once

#include "pack/publish/site_plan.h"

namespace CLI {
class App;
}

namespace vorlane {

/// Adds the `publish` command and its options, filled into `options`, to `app`.
CLI::App* add_publish_command(CLI::App& app, publish::PublishOptions& options);

}  // namespace vorlane
