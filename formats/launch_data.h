// The launch data block: what a packaging step burned into the launcher.
// The packer writes it (launch_data_encoder.h), the launcher decodes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vorlane::formats {

/// Size of the reserved area in the launcher's read-only data that holds the
/// block, its filler and a final 0 byte.
inline constexpr std::size_t kLaunchAreaSize = 16464;

/// Name of the ELF section that holds the reserved area; the packer finds the
/// area by it. A macro as well, as the section attribute takes only a literal.
#define VORLANE_LAUNCH_AREA_SECTION ".vorlane_launch"
inline constexpr const char kLaunchAreaSection[] = VORLANE_LAUNCH_AREA_SECTION;

/// Bits of the block's flags byte.
enum LaunchFlag : std::uint8_t {
  kRunOnMainThread = 1 << 0,
  kConsoleApp = 1 << 1,
  kFlagBit2 = 1 << 2,
  kFlagBit3 = 1 << 3,
  kFlagBit4 = 1 << 4,
};

/// The decoded launch data block.
///
/// Layout: flags (1 byte), stack size (u32, big-endian), main class (0-ended),
/// then three lists, each a count byte followed by that many 0-ended strings:
/// JVM options, default app arguments, allowed user JVM option prefixes.
struct BurnedInData {
  bool run_on_main_thread = false;
  bool console_app = false;
  bool flag_bit2 = false;
  bool flag_bit3 = false;
  bool flag_bit4 = false;
  std::uint32_t stack_size = 0;
  std::string main_class;
  std::vector<std::string> jvm_options;
  std::vector<std::string> app_args;
  std::vector<std::string> allowed_jvm_options;
  /// False when the block's counts or strings run past the end of the area it
  /// was decoded from; the fields are then empty.
  bool intact = true;

  BurnedInData() = default;
  /// Decodes the block at the start of `area`, never reading past its end.
  explicit BurnedInData(std::span<const std::uint8_t> area);

  /// The flags byte these fields encode.
  std::uint8_t flags() const;
};

}  // namespace vorlane::formats
