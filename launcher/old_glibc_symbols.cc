// Definitions of the four C library symbols that the static C++ runtime of
// a compiler built on glibc 2.36 asks for, and that the older glibc the
// launcher template links against (scripts/glibc-sysroot) lacks. Linked into
// the template only then; launcher.map keeps them out of its dynamic symbol
// table, so libraries loaded later still bind to the C library's own.

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "launcher/loaded_object.h"

// The C library's names, and its addresses as integers (dl_iterate_phdr).
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming,performance-no-int-to-ptr)
extern "C" {

/// glibc 2.32 sets this while a process has one thread, so that the C++
/// runtime may skip atomic operations. Zero, "maybe more than one thread",
/// is right whatever the process does: the runtime then always uses them.
char __libc_single_threaded = 0;

/// The unwinder's lookup of the object that holds a code address (glibc
/// 2.35). Its result feeds only `dlfo_eh_frame` (and the map bounds) to the
/// unwinder; the other fields are zero.
int _dl_find_object(void* address, dl_find_object* result) noexcept {
  const auto object = vorlane::find_loaded_object(address);
  if (!object) {
    return -1;
  }
  std::memset(result, 0, sizeof *result);
  result->dlfo_map_start = reinterpret_cast<void*>(object->map_start);
  result->dlfo_map_end = reinterpret_cast<void*>(object->map_end);
  result->dlfo_eh_frame = const_cast<void*>(object->eh_frame);
  return 0;
}

/// Random numbers for std::random_device (glibc 2.36), which the launcher
/// never makes; from the kernel, as glibc's own does. Like glibc's, it
/// cannot fail: without a kernel source of randomness the process ends.
std::uint32_t arc4random() noexcept {
  std::uint32_t value = 0;
  for (;;) {
    const long got = syscall(SYS_getrandom, &value, sizeof value, 0);
    if (got == static_cast<long>(sizeof value)) {
      return value;
    }
    if (got < 0 && errno != EINTR) {
      std::abort();
    }
  }
}

/// Fills `buffer` with random bytes from the kernel (glibc 2.25), for
/// std::random_device too. As glibc's: at most 256 bytes (else EIO), and
/// -1 with errno when the kernel has none to give.
int getentropy(void* buffer, std::size_t length) {
  if (length > 256) {
    errno = EIO;
    return -1;
  }
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::size_t filled = 0;
  while (filled < length) {
    const long got = syscall(SYS_getrandom, bytes + filled, length - filled, 0);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    filled += static_cast<std::size_t>(got);
  }
  return 0;
}

}  // extern "C"
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming,performance-no-int-to-ptr)
