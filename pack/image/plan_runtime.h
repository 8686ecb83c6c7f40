// The runtime in the `app` plan: where it comes from, its modules, and the
// class-data archives that can be made for it.
#pragma once

#include <optional>

#include "pack/core/error.h"
#include "pack/image/plan.h"

namespace vorlane {

/// The feature version of the runtime the app gets; 0 when unknown.
int runtime_feature_version(const AppFacts& f);

/// The archive --app-cds makes for the runtime, and whether the block's
/// options let it be used: a refusal, or nothing with `plan.archive` and
/// its notes filled in.
std::optional<Error> check_archive(const AppOptions& o, const AppFacts& f, AppPlan& plan);

/// Where the runtime comes from, and which class-data archives can be made:
/// a refusal, or nothing with the runtime's part of `plan` filled in. Needs
/// the launcher's machines already in `plan`.
std::optional<Error> check_runtime(const AppOptions& o, const AppFacts& f, AppPlan& plan);

}  // namespace vorlane
