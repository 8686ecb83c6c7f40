// glibc releases as ELF files name them in their needed symbol versions
// ("GLIBC_2.34"), and the highest one a set of files needs: the oldest glibc
// they all run on.
#pragma once

#include <compare>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pack/core/elf_section.h"

namespace vorlane {

/// A glibc release: 2.34, or 2.2.5 for the oldest x86-64 symbols.
struct GlibcVersion {
  int major = 0;
  int minor = 0;
  int patch = 0;
  auto operator<=>(const GlibcVersion&) const = default;
  /// "2.34", "2.2.5".
  std::string text() const;
};

/// The release a symbol version names ("GLIBC_2.34" is 2.34), or nothing for
/// any other version ("GLIBC_PRIVATE", "GCC_3.0", "SUNWprivate_1.1").
std::optional<GlibcVersion> glibc_version_of(std::string_view symbol_version);

/// The highest glibc release among `needed`, or nothing when none is one.
std::optional<GlibcVersion> highest_glibc(const std::vector<NeededVersion>& needed);

/// A maintained desktop system and the glibc it ships.
struct GlibcSystem {
  GlibcVersion glibc;
  std::string_view family;   ///< "Debian", "Linux Mint"
  std::string_view release;  ///< "11", "22.04"
  /// "Debian 11".
  std::string name() const;
};

/// The systems the packer names when it says whom a glibc floor shuts out,
/// oldest glibc first: the one table of them.
std::span<const GlibcSystem> glibc_systems();

/// The names of the systems whose glibc is older than `floor`, oldest first.
std::vector<std::string> systems_before(GlibcVersion floor);

/// What a tree of glibc `floor` runs on, as a download page says it:
/// "Debian 11+, Ubuntu 20.04+, Fedora 37+, RHEL 8+", for each of these
/// families its oldest release in the table with that glibc or a newer one.
/// A family none of whose releases has it is left out; "" when all are.
std::string systems_from(GlibcVersion floor);

}  // namespace vorlane
