// Looking into jar files: which classes they hold, and whether one can start an app.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pack/core/error.h"
#include "pack/image/class_file.h"

namespace vorlane {

/// The entry a class of binary name `class_name` has in a jar:
/// "a/b/C$D.class" for "a.b.C$D".
std::string class_entry_name(const std::string& class_name);

/// Where a jar holds a class: for its plain entry (key 0) and each release
/// directory of a multi-release jar (META-INF/versions/N/, key N), what that
/// class file says of `main` under each rules. Empty when the jar does not
/// hold the class.
using ClassEntries = std::map<int, MainMethods>;

/// The class's entries in the jar at `path`; a refusal naming the jar when
/// it is no readable zip file or its directory is inconsistent.
Result<ClassEntries> find_class(const std::string& path, const std::string& class_name);

/// The entry a runtime of `feature_version` loads: the highest release
/// directory not above it, else the plain entry; nullopt when there is none.
std::optional<std::pair<int, MainMethods>> loaded_entry(const ClassEntries& entries,
                                                        int feature_version);

/// The jar's META-INF/MANIFEST.MF (at most 1 MiB read), "" when it has
/// none; an error naming the jar when it is no readable zip file.
Result<std::string> read_manifest(const std::string& path);

/// The entries of the `Class-Path` attribute of a manifest's main section
/// (names case-insensitive, continuation lines joined), in order.
std::vector<std::string> manifest_class_path(std::string_view manifest);

}  // namespace vorlane
