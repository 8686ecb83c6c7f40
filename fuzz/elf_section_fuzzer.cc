// Fuzz target: the packer's ELF reading, on any file: the section lookup and
// the needed symbol versions.
//
// Beyond "no crash and no read past the image": a section it finds lies
// wholly inside the image; it lists no more needed versions than the image
// has room for (16 bytes each); when it finds none or refuses it says why.
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "formats/launch_data.h"
#include "fuzz/fuzz_check.h"
#include "pack/core/elf_section.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using vorlane::fuzz::require;
  const std::span<const std::uint8_t> image(bytes, size);
  const vorlane::Result<vorlane::SectionLocation> section =
      vorlane::find_elf_section(image, vorlane::formats::kLaunchAreaSection);
  if (!section) {
    require(!section.error().message.empty(), "a failed lookup says why");
  } else {
    require(section->offset <= size && section->size <= size - section->offset,
            "a section found lies inside the image");
  }
  const vorlane::Result<std::vector<vorlane::NeededVersion>> versions =
      vorlane::needed_versions(image);
  if (!versions) {
    require(!versions.error().message.empty(), "a refused version section says why");
  } else {
    require(versions->size() <= size / 16, "no more versions than the image has room for");
  }
  return 0;
}
