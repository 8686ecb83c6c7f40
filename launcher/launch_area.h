// The reserved area that holds the launch data block.
#pragma once

#include <cstdint>
#include <span>

namespace vorlane {

/// The reserved area as it was loaded from this executable's file. The
/// template ships a default block there; the packer overwrites it in a copy.
std::span<const std::uint8_t> launch_area();

}  // namespace vorlane
