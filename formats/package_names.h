// The names of the packages the packer makes and publish reads back: the
// architecture table (ELF machine, Debian's word, RPM's word) and the file
// names of the .deb, .rpm and .tar.gz packages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorlane::formats {

/// The package formats.
enum class PackageKind { kDeb, kRpm, kTarGz };

/// "deb", "rpm", "tar.gz".
std::string_view package_kind_name(PackageKind kind);
std::optional<PackageKind> package_kind_from_name(std::string_view name);

/// One machine packages are made for, by each format's word.
struct Arch {
  std::uint16_t elf_machine = 0;
  std::string_view deb;             ///< amd64, arm64
  std::string_view rpm;             ///< x86_64, aarch64 (also the .tar.gz's name part)
  std::string_view rpm_lib_suffix;  ///< "()(64bit)" for the soname requirements
};

/// The entry of an ELF machine, a Debian word or an RPM word; nullopt for
/// a machine packages are not made for.
std::optional<Arch> arch_of_machine(std::uint16_t elf_machine);
std::optional<Arch> arch_of_deb(std::string_view deb);
std::optional<Arch> arch_of_rpm(std::string_view rpm);

/// The package file's name: NAME_VERSION_ARCH.deb, NAME-VERSION.RPMARCH.rpm,
/// NAME-VERSION-linux-RPMARCH.tar.gz, for the Debian word `deb_arch`.
/// `version` is as the format names it: VERSION-RELEASE for .deb and .rpm,
/// VERSION alone for .tar.gz. An unknown architecture stands as given.
std::string package_file_name(PackageKind kind, std::string_view name, std::string_view version,
                              std::string_view deb_arch);

/// What a .tar.gz's file name says.
struct TarballName {
  std::string name;
  std::string version;
  std::string arch;  ///< Debian's word, or the name's own when it is no known machine
};

/// Reads NAME-VERSION-linux-MACHINE.tar.gz (the version starts at the first
/// '-' followed by a digit); nullopt for a name not of that form.
std::optional<TarballName> parse_tarball_name(std::string_view file_name);

}  // namespace vorlane::formats
