// The reserved area that holds the launch data block.
#pragma once

#include <cstdint>
#include <span>

#include "formats/launch_data.h"

namespace vorlane {

/// The reserved area as it was loaded from this executable's file. The
/// template ships a default block there; the packer overwrites it in a copy.
std::span<const std::uint8_t> launch_area();

/// The launch data of this process, decoded from the reserved area before
/// `main` runs. Defined by the launcher executable.
extern formats::BurnedInData data;

}  // namespace vorlane
