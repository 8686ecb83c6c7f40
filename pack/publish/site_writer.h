// `vorlane-pack publish`: probes the packages and the site, plans
// (site_plan), then writes: new package files, then each channel's apt and
// dnf indexes beside the old ones, switched in at the end.
#pragma once

#include "pack/publish/site_plan.h"

namespace vorlane::publish {

/// Runs a publish, or with only `--new-key` makes a key. Returns the exit
/// status: 0 published (or nothing to do), 1 a tool failed, 2 bad input or
/// a refusal; the site is as it was unless 0.
int publish_site(const PublishOptions& options);

}  // namespace vorlane::publish
