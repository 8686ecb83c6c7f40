// Burning launch data into a copy of the launcher template, and reading it back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/launch_data.h"
#include "pack/core/error.h"

namespace vorlane {

/// The installed template beside the packer: ../lib/vorlane/launcher.
std::string default_template_path();

/// Copies the template at `template_path` to `output_path` with `block`
/// burned into its reserved area, with the run bit set. `stack_size` is the
/// requested size before it is narrowed into the block. Returns the reasons
/// it cannot, each a sentence; on any failure no output file is left.
std::vector<std::string> burn(const std::string& template_path, const std::string& output_path,
                              formats::BurnedInData block, std::uint64_t stack_size);

/// The block burned into the launcher at `path`, or the reason it cannot be read.
Result<formats::BurnedInData> read_burned_block(const std::string& path);

/// The block as a person reads it: flags, stack size, main class, each list.
std::string describe_block(const formats::BurnedInData& block);

}  // namespace vorlane
