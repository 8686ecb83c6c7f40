#include "pack/core/elf_section.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "pack/core/files.h"

namespace vorlane {
namespace {

/// A minimal 64-bit little-endian ELF image: header, section name table,
/// one ".vorlane_launch" section of 16 bytes, then the section headers
/// (null, names, launch).
struct ElfImage {
  static constexpr std::size_t kNamesOffset = 64;
  static constexpr char kNames[] = "\0.shstrtab\0.vorlane_launch\0";
  static constexpr std::size_t kDataOffset = kNamesOffset + sizeof(kNames);
  static constexpr std::size_t kTableOffset = kDataOffset + 16;

  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kTableOffset + std::size_t{3} * 64);

  void put(std::size_t at, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = (value >> (8 * i)) & 0xFF;
  }
  void section(int index, std::uint32_t name, std::uint32_t type, std::uint64_t offset,
               std::uint64_t size) {
    const std::size_t at = kTableOffset + static_cast<std::size_t>(index) * 64;
    put(at, name, 4);
    put(at + 4, type, 4);
    put(at + 24, offset, 8);
    put(at + 32, size, 8);
  }

  ElfImage() {
    std::memcpy(bytes.data(), "\177ELF\2\1\1", 7);
    put(0x28, kTableOffset, 8);  // section header table
    put(0x3A, 64, 2);            // entry size
    put(0x3C, 3, 2);             // count
    put(0x3E, 1, 2);             // names section index
    std::memcpy(bytes.data() + kNamesOffset, kNames, sizeof(kNames));
    section(1, 1, 3, kNamesOffset, sizeof(kNames));
    section(2, 11, 1, kDataOffset, 16);
  }
};

TEST(FindElfSection, FindsTheSection) {
  const ElfImage image;
  const auto found = find_elf_section(image.bytes, ".vorlane_launch");
  ASSERT_TRUE(found) << found.error().message;
  EXPECT_EQ(found->offset, ElfImage::kDataOffset);
  EXPECT_EQ(found->size, 16u);
}

TEST(FindElfSection, RefusesDamagedImages) {
  const struct {
    const char* what;
    std::function<void(ElfImage&)> damage;
    std::string error;
  } cases[] = {
      {"too short", [](ElfImage& e) { e.bytes.resize(40); }, "not an ELF file"},
      {"no magic", [](ElfImage& e) { e.bytes[1] = 'X'; }, "not an ELF file"},
      {"32-bit", [](ElfImage& e) { e.bytes[4] = 1; }, "not a 64-bit little-endian ELF file"},
      {"big-endian", [](ElfImage& e) { e.bytes[5] = 2; }, "not a 64-bit little-endian ELF file"},
      {"table past the end", [](ElfImage& e) { e.put(0x28, 1ull << 40, 8); },
       "its section header table is missing or damaged"},
      {"table offset overflows", [](ElfImage& e) { e.put(0x28, ~0ull - 10, 8); },
       "its section header table is missing or damaged"},
      {"entries too small", [](ElfImage& e) { e.put(0x3A, 32, 2); },
       "its section header table is missing or damaged"},
      {"names index out of range", [](ElfImage& e) { e.put(0x3E, 3, 2); },
       "its section header table is missing or damaged"},
      {"names past the end",
       [](ElfImage& e) { e.section(1, 1, 3, ElfImage::kNamesOffset, 1ull << 30); },
       "its section name table is damaged"},
      {"section past the end",
       [](ElfImage& e) { e.section(2, 11, 1, ElfImage::kDataOffset, 1ull << 30); },
       "its section .vorlane_launch has no contents in the file"},
      {"section without contents",
       [](ElfImage& e) { e.section(2, 11, 8, ElfImage::kDataOffset, 16); },
       "its section .vorlane_launch has no contents in the file"},
      {"name offset past the table", [](ElfImage& e) { e.section(2, 5000, 1, 0, 16); },
       "it has no section .vorlane_launch"},
      {"name without its 0 byte",
       [](ElfImage& e) { e.section(1, 1, 3, ElfImage::kNamesOffset, 20); },
       "it has no section .vorlane_launch"},
  };
  for (const auto& c : cases) {
    ElfImage image;
    c.damage(image);
    const auto found = find_elf_section(image.bytes, ".vorlane_launch");
    ASSERT_FALSE(found) << c.what;
    EXPECT_EQ(found.error().message, c.error) << c.what;
  }
}

TEST(ElfMachine, ReadsEitherByteOrderAndRefusesWhatIsNoElf) {
  const auto header = [](std::uint8_t data, std::uint8_t b18, std::uint8_t b19) {
    std::vector<std::uint8_t> bytes(20, 0);
    std::memcpy(bytes.data(), "\177ELF", 4);
    bytes[4] = 1;  // a 32-bit file: the machine is at the same place
    bytes[5] = data;
    bytes[18] = b18;
    bytes[19] = b19;
    return bytes;
  };
  const std::vector<std::uint8_t> x86 = header(1, 62, 0);
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
    std::optional<std::uint16_t> machine;
    const char* error;
  } cases[] = {
      {"x86-64, little-endian", header(1, 62, 0), 62, ""},
      {"AArch64, little-endian", header(1, 183, 0), 183, ""},
      {"PowerPC64, big-endian", header(2, 0, 21), 21, ""},
      {"unknown byte order", header(7, 62, 0), std::nullopt, "an ELF file of unknown byte order"},
      {"too short", std::vector<std::uint8_t>(x86.begin(), x86.begin() + 19), std::nullopt,
       "not an ELF file"},
      {"a jar",
       {'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
       std::nullopt,
       "not an ELF file"},
  };
  for (const auto& c : cases) {
    const Result<std::uint16_t> machine = elf_machine(c.bytes);
    EXPECT_EQ(machine ? std::optional(*machine) : std::nullopt, c.machine) << c.what;
    EXPECT_EQ(machine ? "" : machine.error().message, c.error) << c.what;
  }
  EXPECT_EQ(machine_name(183), "AArch64");
  EXPECT_EQ(machine_name(62), "x86-64");
  EXPECT_EQ(machine_name(9999), "machine 9999");
}

/// A 64-bit little-endian ELF image whose .gnu.version_r section says that it
/// needs GLIBC_2.2.5 and GLIBC_2.34 from libc.so.6 and GLIBC_2.29 from
/// libm.so.6. Sections: null, names, .dynstr, .gnu.version_r.
struct VersionedImage {
  static constexpr char kNames[] = "\0.shstrtab\0.dynstr\0.gnu.version_r";
  static constexpr char kStrings[] = "\0libc.so.6\0GLIBC_2.2.5\0GLIBC_2.34\0libm.so.6\0GLIBC_2.29";
  static constexpr std::size_t kNamesOffset = 64;
  static constexpr std::size_t kStringsOffset = kNamesOffset + sizeof(kNames);
  static constexpr std::size_t kNeedOffset = kStringsOffset + sizeof(kStrings);
  static constexpr std::size_t kNeedSize = 80;  // two libraries, three versions
  static constexpr std::size_t kTableOffset = kNeedOffset + kNeedSize;

  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kTableOffset + std::size_t{4} * 64);

  void put(std::size_t at, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes[at + i] = (value >> (8 * i)) & 0xFF;
  }
  void section(int index, std::uint32_t name, std::uint32_t type, std::uint64_t offset,
               std::uint64_t size, std::uint32_t link, std::uint32_t info) {
    const std::size_t at = kTableOffset + static_cast<std::size_t>(index) * 64;
    put(at, name, 4);
    put(at + 4, type, 4);
    put(at + 24, offset, 8);
    put(at + 32, size, 8);
    put(at + 40, link, 4);
    put(at + 44, info, 4);
  }
  /// Elf64_Verneed at `at` in the section.
  void library(std::size_t at, std::uint16_t count, std::uint32_t file, std::uint32_t aux,
               std::uint32_t next) {
    put(kNeedOffset + at, 1, 2);
    put(kNeedOffset + at + 2, count, 2);
    put(kNeedOffset + at + 4, file, 4);
    put(kNeedOffset + at + 8, aux, 4);
    put(kNeedOffset + at + 12, next, 4);
  }
  /// Elf64_Vernaux at `at` in the section.
  void version(std::size_t at, std::uint32_t name, std::uint32_t next) {
    put(kNeedOffset + at + 8, name, 4);
    put(kNeedOffset + at + 12, next, 4);
  }
  void version_r(std::uint64_t offset, std::uint64_t size, std::uint32_t link, std::uint32_t info) {
    section(3, 19, 0x6ffffffe, offset, size, link, info);
  }

  VersionedImage() {
    std::memcpy(bytes.data(), "\177ELF\2\1\1", 7);
    put(0x28, kTableOffset, 8);
    put(0x3A, 64, 2);
    put(0x3C, 4, 2);
    put(0x3E, 1, 2);
    std::memcpy(bytes.data() + kNamesOffset, kNames, sizeof(kNames));
    std::memcpy(bytes.data() + kStringsOffset, kStrings, sizeof(kStrings));
    section(1, 1, 3, kNamesOffset, sizeof(kNames), 0, 0);
    section(2, 11, 3, kStringsOffset, sizeof(kStrings), 0, 0);
    version_r(kNeedOffset, kNeedSize, 2, 2);
    library(0, 2, 1, 16, 48);  // libc.so.6: versions at 16 and 32
    version(16, 11, 16);
    version(32, 23, 0);
    library(48, 1, 34, 16, 0);  // libm.so.6: version at 64
    version(64, 44, 0);
  }
};

TEST(NeededVersions, ReadsEveryLibrarysVersions) {
  const VersionedImage image;
  const auto versions = needed_versions(image.bytes);
  ASSERT_TRUE(versions) << versions.error().message;
  EXPECT_EQ(*versions, (std::vector<NeededVersion>{{"libc.so.6", "GLIBC_2.2.5"},
                                                   {"libc.so.6", "GLIBC_2.34"},
                                                   {"libm.so.6", "GLIBC_2.29"}}));
  // No such section: nothing needed.
  const auto none = needed_versions(ElfImage().bytes);
  ASSERT_TRUE(none) << none.error().message;
  EXPECT_TRUE(none->empty());
}

TEST(NeededVersions, ReadsThisProgram) {
  const auto image = read_file("/proc/self/exe");
  ASSERT_TRUE(image) << image.error().message;
  const auto versions = needed_versions(*image);
  ASSERT_TRUE(versions) << versions.error().message;
  EXPECT_TRUE(std::any_of(versions->begin(), versions->end(), [](const NeededVersion& v) {
    return v.library == "libc.so.6" && v.version.starts_with("GLIBC_2.");
  }));
}

TEST(NeededVersions, RefusesDamagedSections) {
  constexpr auto kSection = "its section .gnu.version_r is damaged";
  constexpr auto kEntries = "its needed versions (.gnu.version_r) are damaged";
  const struct {
    const char* what;
    std::function<void(VersionedImage&)> damage;
    std::string error;
  } cases[] = {
      {"not an ELF file", [](VersionedImage& e) { e.bytes[0] = 0; }, "not an ELF file"},
      {"section past the end",
       [](VersionedImage& e) { e.version_r(VersionedImage::kNeedOffset, 1ull << 40, 2, 2); },
       kSection},
      {"string table index out of range",
       [](VersionedImage& e) { e.version_r(VersionedImage::kNeedOffset, 80, 9, 2); }, kSection},
      {"no string table",
       [](VersionedImage& e) { e.version_r(VersionedImage::kNeedOffset, 80, 0, 2); }, kSection},
      {"string table past the end",
       [](VersionedImage& e) {
         e.section(2, 11, 3, VersionedImage::kStringsOffset, 1ull << 40, 0, 0);
       },
       kSection},
      {"more libraries than entries",
       [](VersionedImage& e) {
         e.library(48, 1, 34, 16, 48);
         e.version_r(VersionedImage::kNeedOffset, 80, 2, 3);
       },
       kEntries},
      {"versions past the section",
       [](VersionedImage& e) {
         e.version(64, 44, 16);
         e.library(48, 3, 34, 16, 0);
       },
       kEntries},
      {"first version far away", [](VersionedImage& e) { e.library(48, 1, 34, 0xFFFFFFF0u, 0); },
       kEntries},
      {"file name past the strings", [](VersionedImage& e) { e.library(0, 2, 5000, 16, 48); },
       kEntries},
      {"version name past the strings", [](VersionedImage& e) { e.version(32, 5000, 0); },
       kEntries},
      {"version name without its 0 byte",
       [](VersionedImage& e) {
         e.section(2, 11, 3, VersionedImage::kStringsOffset, sizeof(VersionedImage::kStrings) - 1,
                   0, 0);
       },
       kEntries},
  };
  for (const auto& c : cases) {
    VersionedImage image;
    c.damage(image);
    const auto versions = needed_versions(image.bytes);
    ASSERT_FALSE(versions) << c.what;
    EXPECT_EQ(versions.error().message, c.error) << c.what;
  }
}

}  // namespace
}  // namespace vorlane
