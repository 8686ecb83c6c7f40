// Which files a package keeps the times of, for the app archive it ships.
// Which archives it carries is decided in formats/archive_policy.h.
#pragma once

#include <string>
#include <vector>

namespace vorlane::packages {

/// The files, relative to the tree, whose size and modification time the
/// tree's app archive records: each jar the burned class path names
/// (`-Djava.class.path=&&/a.jar:&&/b.jar`, `&&` being lib/app). The JVM sets
/// the archive aside when one of them differs, so packaging keeps their times.
std::vector<std::string> archive_recorded_files(const std::vector<std::string>& jvm_options);

/// The newest of `times` and `epoch`: the time a tool that clamps file
/// times to SOURCE_DATE_EPOCH (dpkg-deb) is given, so no kept time is
/// clamped and the package still depends only on its inputs.
long long clamp_epoch(long long epoch, const std::vector<long long>& times);

}  // namespace vorlane::packages
