#include "pack/core/elf_section.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "formats/byte_reader.h"
#include "pack/core/files.h"

namespace vorlane {

using formats::ByteReader;

namespace {

constexpr std::uint8_t kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr std::uint8_t kElfClass64 = 2;
constexpr std::uint8_t kElfDataLittleEndian = 1;
constexpr std::uint8_t kElfDataBigEndian = 2;
constexpr std::uint32_t kSectionTypeNoBits = 8;
constexpr std::uint64_t kSectionHeaderSize = 64;

struct SectionHeader {
  std::uint32_t name;
  std::uint32_t type;
  std::uint64_t offset;
  std::uint64_t size;
  std::uint32_t link;
  std::uint32_t info;
};

SectionHeader read_section_header(ByteReader& reader, std::uint64_t at) {
  reader.seek(at);
  SectionHeader header{};
  header.name = static_cast<std::uint32_t>(reader.uint_le(4));
  header.type = static_cast<std::uint32_t>(reader.uint_le(4));
  reader.uint_le(8);  // flags
  reader.uint_le(8);  // address
  header.offset = reader.uint_le(8);
  header.size = reader.uint_le(8);
  header.link = static_cast<std::uint32_t>(reader.uint_le(4));
  header.info = static_cast<std::uint32_t>(reader.uint_le(4));
  return header;
}

bool within(std::uint64_t offset, std::uint64_t size, std::uint64_t limit) {
  return offset <= limit && size <= limit - offset;
}

/// The section header table of a 64-bit little-endian ELF image, checked to
/// lie inside it.
struct SectionTable {
  std::uint64_t offset;
  std::uint64_t entry_size;
  std::uint64_t count;
  std::span<const std::uint8_t> names;

  SectionHeader at(ByteReader& reader, std::uint64_t index) const {
    return read_section_header(reader, offset + index * entry_size);
  }
};

Result<SectionTable> section_table(std::span<const std::uint8_t> image) {
  if (image.size() < 64 || std::memcmp(image.data(), kElfMagic, 4) != 0) {
    return bad_input("not an ELF file");
  }
  if (image[4] != kElfClass64 || image[5] != kElfDataLittleEndian) {
    return bad_input("not a 64-bit little-endian ELF file");
  }
  ByteReader reader(image);
  reader.seek(0x28);
  const std::uint64_t table_offset = reader.uint_le(8);
  reader.seek(0x3A);
  const std::uint64_t entry_size = reader.uint_le(2);
  const std::uint64_t count = reader.uint_le(2);
  const std::uint64_t names_index = reader.uint_le(2);
  if (!reader.ok() || entry_size < kSectionHeaderSize || names_index >= count ||
      !within(table_offset, count * entry_size, image.size())) {
    return bad_input("its section header table is missing or damaged");
  }
  SectionTable table{table_offset, entry_size, count, {}};
  const SectionHeader names = table.at(reader, names_index);
  if (!reader.ok() || !within(names.offset, names.size, image.size())) {
    return bad_input("its section name table is damaged");
  }
  table.names = image.subspan(names.offset, names.size);
  return table;
}

/// The header of the section called `name`, or nothing when there is none.
std::optional<SectionHeader> section_named(std::span<const std::uint8_t> image,
                                           const SectionTable& table, std::string_view name) {
  ByteReader reader(image);
  for (std::uint64_t i = 0; i < table.count; ++i) {
    const SectionHeader section = table.at(reader, i);
    if (section.name >= table.names.size()) continue;
    ByteReader name_reader(table.names.subspan(section.name));
    if (name_reader.c_string() != name || !name_reader.ok()) continue;
    return section;
  }
  return std::nullopt;
}

/// The 0-terminated string at `offset` in `strings`, or nothing when it
/// starts or runs past its end or is longer than any library or version
/// name (which also bounds the work per name).
std::optional<std::string> string_at(std::span<const std::uint8_t> strings, std::uint64_t offset) {
  constexpr std::size_t kLongestName = 1024;
  if (offset >= strings.size()) return std::nullopt;
  ByteReader reader(
      strings.subspan(offset, std::min<std::uint64_t>(strings.size() - offset, kLongestName + 1)));
  std::string value = reader.c_string();
  if (!reader.ok()) return std::nullopt;
  return value;
}

}  // namespace

Result<SectionLocation> find_elf_section(std::span<const std::uint8_t> image,
                                         std::string_view name) {
  Result<SectionTable> table = section_table(image);
  if (!table) return table.error();
  const std::optional<SectionHeader> section = section_named(image, *table, name);
  if (!section) return bad_input("it has no section " + std::string(name));
  if (section->type == kSectionTypeNoBits ||
      !within(section->offset, section->size, image.size())) {
    return bad_input("its section " + std::string(name) + " has no contents in the file");
  }
  return SectionLocation{section->offset, section->size};
}

Result<std::vector<NeededVersion>> needed_versions(std::span<const std::uint8_t> image) {
  Result<SectionTable> table = section_table(image);
  if (!table) return table.error();
  const std::optional<SectionHeader> section = section_named(image, *table, ".gnu.version_r");
  if (!section) return std::vector<NeededVersion>{};
  ByteReader reader(image);
  const SectionHeader strings =
      section->link < table->count ? table->at(reader, section->link) : SectionHeader{};
  if (section->type == kSectionTypeNoBits ||
      !within(section->offset, section->size, image.size()) || section->link == 0 ||
      section->link >= table->count || !reader.ok() ||
      !within(strings.offset, strings.size, image.size())) {
    return bad_input("its section .gnu.version_r is damaged");
  }
  const auto entries = image.subspan(section->offset, section->size);
  const auto names = image.subspan(strings.offset, strings.size);
  const auto damaged = [] { return bad_input("its needed versions (.gnu.version_r) are damaged"); };

  // Each library entry (Elf64_Verneed, 16 bytes) and each of its versions
  // (Elf64_Vernaux, 16 bytes) names the next by an offset that only goes
  // forward. Entries that overlap could still make a walk quadratic, so it
  // stops at more versions than the section has room for.
  constexpr std::uint64_t kEntrySize = 16;
  const std::uint64_t room = entries.size() / kEntrySize;
  std::vector<NeededVersion> versions;
  ByteReader walk(entries);
  std::uint64_t library_at = 0;
  for (std::uint64_t library = 0; library < section->info; ++library) {
    if (!within(library_at, kEntrySize, entries.size())) return damaged();
    walk.seek(library_at);
    walk.uint_le(2);  // vn_version
    const std::uint64_t version_count = walk.uint_le(2);
    const std::optional<std::string> file = string_at(names, walk.uint_le(4));
    const std::uint64_t first_version = walk.uint_le(4);
    const std::uint64_t next_library = walk.uint_le(4);
    if (!file) return damaged();
    std::uint64_t version_at = library_at + first_version;
    for (std::uint64_t v = 0; v < version_count; ++v) {
      if (!within(version_at, kEntrySize, entries.size())) return damaged();
      walk.seek(version_at + 8);  // past vna_hash, vna_flags, vna_other
      const std::optional<std::string> name = string_at(names, walk.uint_le(4));
      const std::uint64_t next_version = walk.uint_le(4);
      if (!name || versions.size() >= room) return damaged();
      versions.push_back({*file, *name});
      if (next_version == 0) break;
      version_at += next_version;
    }
    if (next_library == 0) break;
    library_at += next_library;
  }
  return versions;
}

Result<std::uint16_t> elf_machine(std::span<const std::uint8_t> image) {
  if (image.size() < 20 || std::memcmp(image.data(), kElfMagic, 4) != 0) {
    return bad_input("not an ELF file");
  }
  // e_machine sits at byte 18 in both classes, in the file's own byte order.
  if (image[5] == kElfDataLittleEndian)
    return static_cast<std::uint16_t>(image[18] | image[19] << 8);
  if (image[5] == kElfDataBigEndian) return static_cast<std::uint16_t>(image[18] << 8 | image[19]);
  return bad_input("an ELF file of unknown byte order");
}

std::string machine_name(std::uint16_t machine) {
  switch (machine) {
    case kMachineX86:
      return "x86";
    case kMachineArm:
      return "ARM";
    case kMachineX86_64:
      return "x86-64";
    case kMachineAArch64:
      return "AArch64";
    case kMachineRiscV:
      return "RISC-V";
    case kMachinePowerPC64:
      return "PowerPC64";
    case kMachineS390:
      return "S/390";
    default:
      return "machine " + std::to_string(machine);
  }
}

Result<std::uint16_t> host_machine() {
  Result<std::uint16_t> machine = elf_machine_of_file("/proc/self/exe");
  if (!machine) return as_step(with_context("cannot tell this machine's kind: ", machine.error()));
  return machine;
}

Result<std::uint16_t> elf_machine_of_file(const std::string& path) {
  Result<std::vector<std::uint8_t>> head = read_file_head(path, 20);
  if (!head) return head.error();
  Result<std::uint16_t> machine = elf_machine(*head);
  if (!machine) return as_input(with_context(path + " is ", machine.error()));
  return machine;
}

}  // namespace vorlane
