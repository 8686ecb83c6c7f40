// Finding a named section in an ELF file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pack/core/error.h"

namespace vorlane {

/// Where a section's bytes lie in the file.
struct SectionLocation {
  std::uint64_t offset;
  std::uint64_t size;
};

/// Finds the section called `name` in a 64-bit little-endian ELF `image`
/// (any machine). Every offset read from the file is checked against the
/// image's size. Refuses, with the reason, an image that is not such an ELF
/// file or has no such section with contents in the file.
Result<SectionLocation> find_elf_section(std::span<const std::uint8_t> image,
                                         std::string_view name);

/// A symbol version an ELF file needs from a shared library: "GLIBC_2.34"
/// from "libc.so.6".
struct NeededVersion {
  std::string library;
  std::string version;
  bool operator==(const NeededVersion&) const = default;
};

/// The symbol versions a 64-bit little-endian ELF `image` needs (its
/// .gnu.version_r section), in the file's order; none when it has no such
/// section (a static program, or one that needs no versioned symbols).
/// Every offset read from the file is checked against the section's size.
/// Refuses, with the reason, an image that is not such an ELF file or whose
/// section is damaged.
Result<std::vector<NeededVersion>> needed_versions(std::span<const std::uint8_t> image);

/// The machine (`e_machine`) an ELF `image` of either class and byte order
/// is built for, or the reason it is no ELF file. Only the first 20 bytes
/// are needed.
Result<std::uint16_t> elf_machine(std::span<const std::uint8_t> image);

/// The machine the ELF file at `path` is built for, or a reason naming the file.
Result<std::uint16_t> elf_machine_of_file(const std::string& path);

/// ELF machine numbers (`e_machine`) of the machines Vorlane builds for, and others it names.
inline constexpr std::uint16_t kMachineX86 = 3;
inline constexpr std::uint16_t kMachineArm = 40;
inline constexpr std::uint16_t kMachinePowerPC64 = 21;
inline constexpr std::uint16_t kMachineS390 = 22;
inline constexpr std::uint16_t kMachineX86_64 = 62;
inline constexpr std::uint16_t kMachineAArch64 = 183;
inline constexpr std::uint16_t kMachineRiscV = 243;

/// The machine this program runs on: that of its own executable
/// (/proc/self/exe), which is what an emulator-free child can run.
Result<std::uint16_t> host_machine();

/// A person's name for an ELF machine number: "x86-64", "AArch64", ... or
/// "machine N" for one this tool has no name for.
std::string machine_name(std::uint16_t machine);

}  // namespace vorlane
