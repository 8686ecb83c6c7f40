// Finds the loaded ELF object (program or shared library) that holds an
// address, and that object's exception-handling index. The template links
// against an old C library; this serves the unwinder of the static C++
// runtime, which asks the C library for it where glibc 2.35 or later has it
// (old_glibc_symbols.cc).
#pragma once

#include <cstdint>
#include <optional>

namespace vorlane {

/// The object that maps an address: the bounds of its loaded segments and
/// where its PT_GNU_EH_FRAME segment (.eh_frame_hdr) is mapped, or null
/// when it has none.
struct LoadedObject {
  std::uintptr_t map_start = 0;
  std::uintptr_t map_end = 0;
  const void* eh_frame = nullptr;
};

/// The loaded object one of whose PT_LOAD segments holds `address`, or
/// nothing when none does. Allocates nothing and throws nothing: it runs
/// while an exception is being unwound.
std::optional<LoadedObject> find_loaded_object(const void* address) noexcept;

}  // namespace vorlane
