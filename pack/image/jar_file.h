// Looking into jar files: which classes they hold.
#pragma once

#include <optional>
#include <string>

namespace vorlane {

/// The entry a class of binary name `class_name` has in a jar:
/// "a/b/C$D.class" for "a.b.C$D".
std::string class_entry_name(const std::string& class_name);

/// Whether the jar at `path` holds the class, at its plain entry or under a
/// release directory of a multi-release jar (META-INF/versions/N/). Returns
/// nullopt and the reason in `error` when the file is no readable zip file.
std::optional<bool> jar_has_class(const std::string& path, const std::string& class_name,
                                  std::string& error);

}  // namespace vorlane
