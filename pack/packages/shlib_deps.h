// Package dependencies from the shared libraries a tree's programs need:
// the NEEDED entries of its ELF files, mapped to packages through the
// shlibs and symbols control files of the target distribution's packages.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "pack/core/error.h"

namespace vorlane::packages {

/// The dynamic section of one ELF file, as `readelf -dW` prints it.
struct ElfDynamic {
  std::vector<std::string> needed;
  std::string soname;
};

ElfDynamic parse_readelf_dynamic(const std::string& output);

/// Soname -> Debian dependency ("libx11-6 (>= 2:1.6.0)"), from the files
/// of one or more packages. A shlibs entry wins over a symbols one.
class ShlibsMap {
 public:
  /// Adds the entries of a shlibs file ("libX11 6 libx11-6 (>= 2:1.6.0)");
  /// typed lines (udeb:) are skipped.
  void add_shlibs(const std::string& text);
  /// Adds the sonames a symbols file names ("libasound.so.2 libasound2 #MINVER#").
  void add_symbols(const std::string& text);
  /// The dependency for `soname`, or "" when no file named it.
  std::string find(const std::string& soname) const;
  bool empty() const { return shlibs_.empty() && symbols_.empty(); }
  /// Adds the entries of `other` for sonames this map does not name yet.
  void merge_from(const ShlibsMap& other) {
    shlibs_.insert(other.shlibs_.begin(), other.shlibs_.end());
    symbols_.insert(other.symbols_.begin(), other.symbols_.end());
  }

 private:
  std::map<std::string, std::string> shlibs_;
  std::map<std::string, std::string> symbols_;
};

/// What a set of NEEDED sonames maps to.
struct DependencyResult {
  std::vector<std::string> deb_depends;   ///< sorted, unique
  std::vector<std::string> rpm_requires;  ///< "libX11.so.6()(64bit)", sorted, unique
  std::vector<std::string> missing;       ///< sonames no file named, sorted
};

/// Maps every soname in `needed` that is not in `provided` (the file names
/// and sonames of the tree's own libraries) to its package. RPM gets the
/// soname itself with `rpm_suffix`, as rpm's own dependency scan writes it.
DependencyResult map_dependencies(const std::set<std::string>& needed,
                                  const std::set<std::string>& provided, const ShlibsMap& shlibs,
                                  const std::string& rpm_suffix);

/// `deps` and `extra` (a comma-separated list) together, sorted and unique.
std::vector<std::string> merge_dependencies(std::vector<std::string> deps,
                                            const std::vector<std::string>& extra);

/// The libraries the Java runtime loads with dlopen, which no NEEDED entry
/// names, for the runtime libraries in `provided` that load them: the font
/// manager (java.desktop) needs fontconfig, whose Debian package also brings
/// a font. Without them a Swing app fails at its first text.
std::set<std::string> dlopened_libraries(const std::set<std::string>& provided);

/// The NEEDED sonames of a tree's ELF files, and the names (file names and
/// sonames) its own libraries go by.
struct ElfScan {
  std::set<std::string> needed;
  std::set<std::string> provided;
};

/// Runs `readelf` (its path) on every ELF file under `root`.
Result<ElfScan> scan_elf_files(const std::string& root, const std::string& readelf);

/// The *.shlibs and *.symbols files in `dir` (dpkg's database or a copy),
/// skipping those of packages of another architecture than `deb_arch`. A
/// bad-input error when it holds none that can be read.
Result<ShlibsMap> read_shlibs_dir(const std::string& dir, const std::string& deb_arch);

/// Refuses, naming it, a dependency that is not in Debian's syntax: package
/// names (with an optional :ARCH) joined by '|', each with an optional
/// "(OP VERSION)", OP one of << <= = >= >>.
Status check_dependency(const std::string& dependency);

/// A Debian dependency ("a (>= 1) | b") in RPM's words ("(a >= 1 or b)").
std::string rpm_dependency(const std::string& debian);

}  // namespace vorlane::packages
