// Fuzz target: the packer's ELF section lookup, on any file.
//
// Beyond "no crash and no read past the image": a section it finds lies
// wholly inside the image; when it finds
// none it says why.
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "fuzz/fuzz_check.h"
#include "launcher/burned_in_data.h"
#include "pack/core/elf_section.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using vorlane::fuzz::require;
  const vorlane::Result<vorlane::SectionLocation> section = vorlane::find_elf_section(
      std::span<const std::uint8_t>(bytes, size), vorlane::kLaunchAreaSection);
  if (!section) {
    require(!section.error().message.empty(), "a failed lookup says why");
    return 0;
  }
  require(section->offset <= size && section->size <= size - section->offset,
          "a section found lies inside the image");
  return 0;
}
