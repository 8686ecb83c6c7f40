// The app's own files in the `app` plan: its jars, the one that holds the
// main class and whether that class can start the app, and the --splash
// images.
#pragma once

#include <optional>

#include "pack/core/error.h"
#include "pack/image/plan.h"

namespace vorlane {

/// The app's jars and its main class: a refusal, or nothing with
/// `plan.jars` and `plan.main_jar` filled in.
std::optional<Error> check_input(const AppOptions& o, const AppFacts& f, AppPlan& plan);

/// The --splash image and its scaled variants: a refusal, or nothing with
/// `plan.splash_files` filled in.
std::optional<Error> check_splash(const AppOptions& o, const AppFacts& f, AppPlan& plan);

}  // namespace vorlane
