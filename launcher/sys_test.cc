#include "launcher/sys.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>

namespace vorlane {
namespace {

/// What descriptor `fd` refers to, or "" when it is closed.
std::string target_of(int fd) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  sys::Result<std::string> target = sys::read_link(link.c_str(), 4096);
  return target.ok() ? target.value : "";
}

/// Closes `closed`, fills the gaps and ends the process with 0 when exactly
/// those streams now read /dev/null and the next file opened is not one of
/// them.
[[noreturn]] void close_and_fill(const std::set<int>& closed) {
  const std::string before[3] = {target_of(0), target_of(1), target_of(2)};
  for (const int fd : closed) close(fd);
  if (sys::open_closed_standard_streams() != 0) std::_Exit(2);
  bool ok = open("/proc/self/exe", O_RDONLY) > 2;
  for (int fd = 0; fd < 3; ++fd) {
    ok = ok && target_of(fd) == (closed.contains(fd) ? "/dev/null" : before[fd]);
  }
  std::_Exit(ok ? 0 : 1);
}

TEST(OpenClosedStandardStreams, FillsOnlyTheClosedOnesWithDevNull) {
  for (const std::set<int>& closed : {std::set<int>{0}, {1}, {2}, {0, 2}, {0, 1, 2}, {}}) {
    // In a child process, so the test's own streams stay as they are.
    EXPECT_EXIT(close_and_fill(closed), testing::ExitedWithCode(0), "") << closed.size();
  }
}

}  // namespace
}  // namespace vorlane
