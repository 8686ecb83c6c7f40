// Fuzz target: the packer's class-file reader, which looks for `main` in
// the class files of the jars it is given.
//
// Beyond "no crash and no read past the bytes": the answer is one of the
// four, and bytes that do not start with the class-file magic are no class.
#include <cstdint>
#include <span>

#include "fuzz/fuzz_check.h"
#include "pack/image/class_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using vorlane::MainMethod;
  const MainMethod found = vorlane::find_main_method(std::span<const std::uint8_t>(bytes, size));
  vorlane::fuzz::require(found == MainMethod::kDeclared || found == MainMethod::kMaybeInherited ||
                             found == MainMethod::kMissing || found == MainMethod::kNotAClassFile,
                         "the answer is one of the four");
  const bool magic =
      size >= 4 && bytes[0] == 0xCA && bytes[1] == 0xFE && bytes[2] == 0xBA && bytes[3] == 0xBE;
  vorlane::fuzz::require(magic || found == MainMethod::kNotAClassFile,
                         "without the magic it is no class file");
  return 0;
}
