// Steps of `plan_packages` that decide one part of the plan each: the
// class-data archives the packages carry, and the update site and feed key
// the installed app follows. Pure functions of the options and the facts.
#pragma once

#include "pack/core/error.h"
#include "pack/packages/package_plan.h"

namespace vorlane::packages {

/// Which class-data archives the packages carry, as the archive table
/// decides; the app's, where it is remade at install, needs its classes
/// listed here, which takes running the tree on this machine or an emulator.
Status plan_archive(const PackageFacts& f, PackagePlan& plan);

/// The update site the installed package follows: an http(s) address that
/// goes as it is into an apt source and a yum repository file, its channel,
/// and the site's armored public key.
Status plan_update_site(const PackageOptions& o, const PackageFacts& f, PackageInfo& info);

/// The site's feed key, which the app's update library checks the feed
/// with, and for which the tar.gz gets its self-updating layout.
Status plan_feed_key(const PackageOptions& o, const PackageFacts& f, PackagePlan& plan);

}  // namespace vorlane::packages
