#include "pack/image/plan.h"

#include <charconv>

#include "formats/launch_data_encoder.h"
#include "pack/image/plan_input.h"
#include "pack/image/plan_launcher.h"
#include "pack/image/plan_runtime.h"

namespace vorlane {

using formats::is_binary_class_name;

namespace {

/// Each check returns a refusal, or nothing with its part of the plan filled in.
using Check = std::optional<Error>;

Check check_options(const AppOptions& o) {
  if (std::string why = check_app_name(o.name); !why.empty()) return bad_input(why);
  if (!is_binary_class_name(o.main_class)) {
    return bad_input("main class '" + o.main_class + "' is not a Java binary class name");
  }
  if (!o.runtime_image.empty() && (!o.jdk.empty() || !o.add_modules.empty())) {
    return bad_input(
        "--runtime-image is a finished runtime: --jdk and --add-modules do not apply to it");
  }
  if (o.training_timeout <= 0) {
    return bad_input("--training-timeout must be a number of seconds above 0");
  }
  return std::nullopt;
}

/// SOURCE_DATE_EPOCH: the time every file of the tree gets, so that the
/// archives record it and a package keeps it.
Check check_fixed_time(const AppOptions&, const AppFacts& f, AppPlan& plan) {
  if (!f.source_date_epoch || f.source_date_epoch->empty()) return std::nullopt;
  const std::string& text = *f.source_date_epoch;
  std::int64_t seconds = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
  // A bound every file system here can store: the year 2255.
  constexpr std::int64_t kLatest = 9'000'000'000;
  if (ec != std::errc() || end != text.data() + text.size() || seconds < 0 || seconds > kLatest) {
    return bad_input("SOURCE_DATE_EPOCH '" + text +
                     "' is not a whole number of seconds since 1970 (from 0 to " +
                     std::to_string(kLatest) + ")");
  }
  plan.fixed_time = seconds;
  return std::nullopt;
}

/// The place of the new tree: never inside the input, never a user's folder.
Check check_place(const AppOptions& o, const AppFacts& f, AppPlan& plan) {
  plan.home = f.home;
  // The runtime takes ':' in its own path for a separator and could not start.
  if (f.home_absolute.find(':') != std::string::npos) {
    return bad_input("the app's folder " + f.home_absolute +
                     " holds a ':', which a Java runtime's path cannot hold: choose a --dest "
                     "without one");
  }
  if (f.dest_is_file) {
    return bad_input("--dest " + o.dest +
                     " is not a folder, and none can be made there as a file is in the way: give "
                     "the folder the app's folder goes in");
  }
  if (f.home_overlaps_input || f.home_overlaps_runtime_image) {
    return bad_input("the app's folder " + f.home + " and " +
                     (f.home_overlaps_input ? o.input : o.runtime_image) +
                     " overlap: give a --dest outside the app's input");
  }
  if (!f.existing) return step_failed("the packer did not look at " + f.home);
  if (!*f.existing) return f.existing->error();
  plan.replace_existing = **f.existing == Destination::kEarlierOutput;
  return std::nullopt;
}

}  // namespace

Result<AppPlan> plan_app(const AppOptions& options, const AppFacts& facts) {
  AppPlan plan;
  if (Check bad = check_options(options)) return *bad;
  for (auto check : {check_input, check_splash, check_archive, check_launcher, check_fixed_time,
                     check_place, check_runtime}) {
    if (Check bad = check(options, facts, plan)) return *bad;
  }
  return plan;
}

}  // namespace vorlane
