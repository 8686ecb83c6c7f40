// Writing the launch data block.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/burned_in_data.h"

namespace vorlane {

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

}  // namespace vorlane
