// `vorlane-pack publish`: its options on the command line, and the run:
// probe, plan, write, and the exit status.
#pragma once

#include "pack/publish/site_plan.h"

namespace CLI {
class App;
}

namespace vorlane {

/// Runs a publish: probes the packages and the site, plans (site_plan),
/// then writes (site_writer), or with only `--new-key` makes a key. Returns
/// the exit status: 0 published (or nothing to do), 1 a tool failed, 2 bad
/// input or a refusal; the site is as it was unless 0.
int run_publish(const publish::PublishOptions& options);

/// Adds the `publish` command and its options, filled into `options`, to `app`.
CLI::App* add_publish_command(CLI::App& app, publish::PublishOptions& options);

}  // namespace vorlane
