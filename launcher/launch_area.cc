#include "launcher/launch_area.h"

#include <array>
#include <string_view>

#include "launcher/burned_in_data.h"

namespace vorlane {

namespace {

// The template's own block: 2 MiB launcher thread, main class "Main", every
// file of the application directory on the class path, no arguments and no
// user options. A packaged app never runs with it.
constexpr std::string_view kDefaultBlock{
    "\x00"              // flags
    "\x00\x20\x00\x00"  // stack size, 2 MiB
    "Main\0"            // main class
    "\x01"              // one JVM option
    "-Djava.class.path=&&/*\0"
    "\x00"   // no app arguments
    "\x00",  // no allowed user options
    5 + 5 + 1 + 24 + 1 + 1};

// The area as the packer leaves it too: block, '_' filler, one final 0 byte.
constexpr std::array<std::uint8_t, kLaunchAreaSize> make_default_area() {
  std::array<std::uint8_t, kLaunchAreaSize> area{};
  std::size_t i = 0;
  for (const char c : kDefaultBlock) area[i++] = static_cast<std::uint8_t>(c);
  for (; i + 1 < area.size(); ++i) area[i] = '_';
  area[i] = 0;
  return area;
}

// In a section of its own so the packer finds it by name and size. `used`
// keeps it in the file even though nothing refers to it by name from
// elsewhere.
__attribute__((section(".vorlane_launch"),
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
