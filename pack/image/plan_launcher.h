// The launcher in the `app` plan: its template, the jars beside it, and the
// block burned into it.
#pragma once

#include <optional>

#include "pack/core/error.h"
#include "pack/image/plan.h"

namespace vorlane {

/// The launcher template and the block burned into it, checked now so that
/// a block too large fails before jlink: a refusal, or nothing with the
/// launcher's part of `plan` filled in. Needs the jars, the splash files and
/// the archive already in `plan`.
std::optional<Error> check_launcher(const AppOptions& o, const AppFacts& f, AppPlan& plan);

}  // namespace vorlane
