#include "pack/core/elf_section.h"

#include <cstring>
#include <vector>

#include "launcher/byte_reader.h"
#include "pack/core/files.h"

namespace vorlane {

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
  return header;
}

bool within(std::uint64_t offset, std::uint64_t size, std::uint64_t limit) {
  return offset <= limit && size <= limit - offset;
}

}  // namespace

Result<SectionLocation> find_elf_section(std::span<const std::uint8_t> image,
                                         std::string_view name) {
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
  const SectionHeader names = read_section_header(reader, table_offset + names_index * entry_size);
  if (!reader.ok() || !within(names.offset, names.size, image.size())) {
    return bad_input("its section name table is damaged");
  }
  const auto name_table = image.subspan(names.offset, names.size);
  for (std::uint64_t i = 0; i < count; ++i) {
    const SectionHeader section = read_section_header(reader, table_offset + i * entry_size);
    if (section.name >= name_table.size()) continue;
    ByteReader name_reader(name_table.subspan(section.name));
    if (name_reader.c_string() != name || !name_reader.ok()) continue;
    if (section.type == kSectionTypeNoBits || !within(section.offset, section.size, image.size())) {
      return bad_input("its section " + std::string(name) + " has no contents in the file");
    }
    return SectionLocation{section.offset, section.size};
  }
  return bad_input("it has no section " + std::string(name));
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
  if (!machine) return step_failed("cannot tell this machine's kind: " + machine.error().message);
  return machine;
}

Result<std::uint16_t> elf_machine_of_file(const std::string& path) {
  Result<std::vector<std::uint8_t>> head = read_file_head(path, 20);
  if (!head) return head.error();
  Result<std::uint16_t> machine = elf_machine(*head);
  if (!machine) return bad_input(path + " is " + machine.error().message);
  return machine;
}

}  // namespace vorlane
