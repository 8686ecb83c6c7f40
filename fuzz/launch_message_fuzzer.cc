// Fuzz target: the body of a launch handed over to a single-instance app,
// which any process of the user can send to the running one.
//
// Beyond "no crash": a body that decodes is the one encoding of what it
// decoded to, so nothing is read twice, skipped or left over.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "formats/launch_message.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(bytes), size);
  const std::optional<vorlane::formats::ForwardedLaunch> launch =
      vorlane::formats::decode_launch_body(body);
  if (!launch) return 0;
  const std::string message = vorlane::formats::encode_launch(*launch);
  vorlane::fuzz::require(message.substr(vorlane::formats::kLaunchHeaderSize) == body,
                         "a decoded body encodes back to the same bytes");
  vorlane::fuzz::require(vorlane::formats::launch_body_size(std::string_view(message).substr(
                             0, vorlane::formats::kLaunchHeaderSize)) == size,
                         "its header announces its size");
  return 0;
}
