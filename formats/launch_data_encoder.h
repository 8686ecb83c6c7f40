// Writing the launch data block: the other half of the format that
// launch_data.h decodes. The encoding itself is constexpr, so that the
// template's default area (launcher/launch_area.cc) is made by it when the launcher
// is compiled; the launcher links nothing of this unit. Validation and the
// encoding of a decoded block serve the packer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/launch_data.h"

namespace vorlane::formats {

/// A block's fields as views, for encoding.
struct BlockFields {
  std::uint8_t flags = 0;
  std::uint32_t stack_size = 0;
  std::string_view main_class;
  std::span<const std::string_view> jvm_options;
  std::span<const std::string_view> app_args;
  std::span<const std::string_view> allowed_jvm_options;
};

/// Bytes the block of `fields` takes.
constexpr std::size_t encoded_size(const BlockFields& fields) {
  std::size_t size = 1 + 4 + fields.main_class.size() + 1;
  for (const auto* list : {&fields.jvm_options, &fields.app_args, &fields.allowed_jvm_options}) {
    size += 1;
    for (const std::string_view s : *list) size += s.size() + 1;
  }
  return size;
}

/// Writes the reserved area: the block laid out as the launcher decodes it,
/// '_' filler and a final 0 byte. `area` holds kLaunchAreaSize bytes and
/// the block must fit (see `validate_block`); list counts are one byte.
constexpr void encode_area_into(const BlockFields& fields, std::span<std::uint8_t> area) {
  std::size_t at = 0;
  const auto put_string = [&](std::string_view s) {
    for (const char c : s) area[at++] = static_cast<std::uint8_t>(c);
    area[at++] = 0;
  };
  area[at++] = fields.flags;
  for (int shift = 24; shift >= 0; shift -= 8) {
    area[at++] = static_cast<std::uint8_t>((fields.stack_size >> shift) & 0xFF);
  }
  put_string(fields.main_class);
  for (const auto* list : {&fields.jvm_options, &fields.app_args, &fields.allowed_jvm_options}) {
    area[at++] = static_cast<std::uint8_t>(list->size());
    for (const std::string_view s : *list) put_string(s);
  }
  for (; at + 1 < area.size(); ++at) area[at] = '_';
  area[at] = 0;
}

/// Smallest launcher thread stack the packer accepts. Below roughly 120 KiB
/// the JVM fails to start or dies silently; 1 MiB leaves room for the app.
inline constexpr std::uint64_t kMinStackSize = std::uint64_t{1024} * 1024;
/// Most strings one list of the block can hold: its count is one byte.
inline constexpr std::size_t kMaxListEntries = 255;

/// Whether `name` is a Java binary class name: identifiers joined by dots
/// (`demo.Main`, `Main`, `a.b.Outer$Inner`), no slashes, no empty parts.
bool is_binary_class_name(std::string_view name);

/// Parses a stack size: bytes, or a number with a k, m or g suffix (either
/// case, powers of 1024). Returns nullopt on anything else.
std::optional<std::uint64_t> parse_size(std::string_view text);

/// Every reason `block` cannot be burned, each a sentence for the user; empty
/// when it can. Checks the class name, stack size, list lengths, 0 bytes
/// inside strings and whether the encoded block fits the reserved area.
std::vector<std::string> validate_block(const BurnedInData& block, std::uint64_t stack_size);

/// The block's bytes, laid out as the launcher decodes them.
std::vector<std::uint8_t> encode_block(const BurnedInData& block);

/// The whole reserved area: the block, '_' filler and a final 0 byte. The
/// block must fit (see `validate_block`).
std::vector<std::uint8_t> encode_area(const BurnedInData& block);

}  // namespace vorlane::formats
