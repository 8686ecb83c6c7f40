#include "pack/core/elf_section.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <vector>

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

}  // namespace
}  // namespace vorlane
