// `vorlane-pack app`: an installed app tree from jars and a main class.
#pragma once

#include "pack/image/plan.h"

namespace vorlane {

/// The facts `plan_app` decides on, read from the file system and the
/// environment; nothing is changed and nothing slow runs.
AppFacts probe_app(const AppOptions& options);

/// Makes DEST/NAME: bin/NAME, lib/app/ and lib/runtime/. Checks everything
/// it can before the slow steps; builds the tree beside its place and puts
/// it there whole, so a failure leaves what was there before. Reports on
/// standard error and returns the exit status.
int make_app(const AppOptions& options);

}  // namespace vorlane
