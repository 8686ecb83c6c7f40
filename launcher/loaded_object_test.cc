#include "launcher/loaded_object.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>

namespace vorlane {
namespace {

int a_static_variable = 1;

// The C library's own lookup (glibc 2.35 and later, which the tests link
// against) is the reference: the unwinder gets from ours what it would get
// from it.
TEST(LoadedObject, FindsWhatTheCLibraryFinds) {
  int on_the_stack = 0;
  struct Case {
    const char* name;
    const void* address;
    bool found;
  };
  const Case cases[] = {
      {"this program's code", reinterpret_cast<const void*>(&find_loaded_object), true},
      {"this program's data", &a_static_variable, true},
      {"the C library's code", reinterpret_cast<const void*>(&::getpid), true},
      {"the stack", &on_the_stack, false},
      {"null", nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto ours = find_loaded_object(c.address);
    dl_find_object theirs{};
    const bool they_found = _dl_find_object(const_cast<void*>(c.address), &theirs) == 0;
    ASSERT_EQ(ours.has_value(), c.found);
    ASSERT_EQ(they_found, c.found);
    if (!c.found) {
      continue;
    }
    const auto address = reinterpret_cast<std::uintptr_t>(c.address);
    EXPECT_LE(ours->map_start, address);
    EXPECT_LT(address, ours->map_end);
    EXPECT_NE(ours->eh_frame, nullptr);
    EXPECT_EQ(ours->eh_frame, theirs.dlfo_eh_frame);
  }
}

}  // namespace
}  // namespace vorlane
