#include "launcher/launch_area.h"

#include <array>
#include <string_view>

#include "formats/launch_data.h"
#include "formats/launch_data_encoder.h"

namespace vorlane {

using formats::encode_area_into;
using formats::kLaunchAreaSize;

namespace {

// The template's own block: 2 MiB launcher thread, main class "Main", every
// file of the application directory on the class path, no arguments and no
// user options. A packaged app never runs with it.
constexpr std::string_view kDefaultJvmOptions[] = {"-Djava.class.path=&&/*"};

// The area as the packer leaves it too, encoded when this is compiled.
constexpr std::array<std::uint8_t, kLaunchAreaSize> make_default_area() {
  std::array<std::uint8_t, kLaunchAreaSize> area{};
  encode_area_into({.flags = 0,
                    .stack_size = std::uint32_t{2} * 1024 * 1024,
                    .main_class = "Main",
                    .jvm_options = kDefaultJvmOptions,
                    .app_args = {},
                    .allowed_jvm_options = {}},
                   area);
  return area;
}

// In a section of its own so the packer finds it by name and size. `used`
// keeps it in the file even though nothing refers to it by name from
// elsewhere.
__attribute__((section(VORLANE_LAUNCH_AREA_SECTION),
               used)) constinit const std::array<std::uint8_t, kLaunchAreaSize>
    g_launch_area = make_default_area();

}  // namespace

std::span<const std::uint8_t> launch_area() {
  const std::uint8_t* bytes = g_launch_area.data();
  // The packer changes these bytes in the file after compilation. Hide the
  // pointer's origin from the optimiser so no read of the area is ever
  // replaced by the default bytes it was compiled with.
  asm("" : "+r"(bytes));
  return {bytes, kLaunchAreaSize};
}

}  // namespace vorlane
