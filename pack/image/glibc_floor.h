// The oldest glibc an app tree runs on: the highest glibc symbol version any
// of its ELF files needs (the launcher, the runtime's libraries and
// programs, native libraries in lib/app), and what the packer says of it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pack/core/error.h"
#include "pack/core/glibc_version.h"
#include "pack/core/report.h"

namespace vorlane {

/// The glibc one file needs; `file` is relative to the tree.
struct GlibcNeed {
  GlibcVersion version;
  std::string file;
  bool operator==(const GlibcNeed&) const = default;
};

/// What glibc a tree needs.
struct TreeGlibc {
  /// The highest need of any ELF file; on a tie, the first file in byte
  /// order of the paths. None when no file needs a glibc version.
  std::optional<GlibcNeed> floor;
  /// The need of the launcher, bin/NAME.
  std::optional<GlibcNeed> launcher;
};

/// The highest need among `needs` (the first of equal ones), and that of
/// `launcher_file`.
TreeGlibc tree_glibc(const std::vector<GlibcNeed>& needs, const std::string& launcher_file);

/// The highest glibc the file at `path` needs; nothing when it is no 64-bit
/// little-endian ELF file or needs no glibc version. Refuses, naming the
/// file, one whose needed versions are damaged or that cannot be read.
Result<std::optional<GlibcVersion>> read_glibc_need(const std::string& path);

/// Reads every ELF file of the tree at `app_dir` (links inside the tree are
/// read where they point). Skips files that are no 64-bit little-endian ELF
/// files, which the tree's 64-bit JVM cannot load. Refuses, naming the file,
/// one whose needed versions are damaged or that cannot be read.
Result<std::vector<GlibcNeed>> read_glibc_needs(const std::string& app_dir);

/// "glibc: 2.34 or later (lib/runtime/lib/libjli.so)", or "" when the tree
/// needs no glibc version.
std::string glibc_floor_line(const TreeGlibc& glibc);

/// When a file other than the launcher raises the floor above the
/// launcher's and so shuts out systems: a note that names the file, the
/// systems and how to reach them; otherwise nothing.
std::optional<std::string> glibc_floor_note(const TreeGlibc& glibc);

/// Reads the tree at `app_dir` and reports its floor line (unless quiet)
/// and note; a tree that cannot be read gets a note saying so.
void report_glibc_floor(const std::string& app_dir, const std::string& launcher_file,
                        const Report& report);

}  // namespace vorlane
