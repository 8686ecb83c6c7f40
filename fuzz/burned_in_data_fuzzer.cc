// Fuzz target: the launch data block decoder on any bytes, and the packer's
// encoder against what it decodes. The input is the area itself.
//
// Beyond "no crash and no read past the input": a block that runs past the
// input leaves every field empty; a block that fits encodes back to exactly
// the bytes it came from (flag bits 5-7 aside, which the launcher ignores);
// and the whole area the packer writes for it decodes to the same fields.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "formats/launch_data.h"
#include "formats/launch_data_encoder.h"
#include "fuzz/fuzz_check.h"

namespace {

using vorlane::formats::BurnedInData;
using vorlane::fuzz::require;

bool same_fields(const BurnedInData& a, const BurnedInData& b) {
  return a.flags() == b.flags() && a.stack_size == b.stack_size && a.main_class == b.main_class &&
         a.jvm_options == b.jvm_options && a.app_args == b.app_args &&
         a.allowed_jvm_options == b.allowed_jvm_options && a.intact == b.intact;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const BurnedInData block(std::span<const std::uint8_t>(bytes, size));
  if (!block.intact) {
    BurnedInData corrupt;
    corrupt.intact = false;
    require(same_fields(block, corrupt), "a block that runs past its area leaves no fields");
    return 0;
  }

  const std::vector<std::uint8_t> encoded = vorlane::formats::encode_block(block);
  require(encoded.size() <= size, "a decoded block is no longer than its area");
  require(encoded[0] == (bytes[0] & 0x1F), "flag bits 0-4 survive a round trip");
  require(std::equal(encoded.begin() + 1, encoded.end(), bytes + 1),
          "a decoded block encodes back to its own bytes");

  if (encoded.size() <= vorlane::formats::kLaunchAreaSize - 1) {
    const std::vector<std::uint8_t> area = vorlane::formats::encode_area(block);
    require(area.size() == vorlane::formats::kLaunchAreaSize && area.back() == 0,
            "the packer's area has the template's size and ends in a 0 byte");
    require(same_fields(BurnedInData(area), block), "the packer's area decodes to the same fields");
  }
  return 0;
}
