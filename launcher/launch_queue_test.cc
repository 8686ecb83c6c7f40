#include "launcher/launch_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorlane {

using formats::kMaxLaunchMessage;

namespace {

TEST(LaunchQueue, BoundsCountAndBytesOfReservedAndQueuedLaunches) {
  // Each step reserves (+N), gives back (-N), queues (qN) or takes the
  // oldest (p), on a queue of at most 3 launches and 100 bytes.
  const struct {
    char op;
    std::size_t bytes;
    bool fits;
  } steps[] = {
      {'+', 40, true}, {'+', 40, true}, {'+', 21, false},  // 101 bytes
      {'+', 20, true}, {'+', 0, false},                    // a 4th launch
      {'-', 20, true}, {'+', 20, true},                    // room given back is room again
      {'q', 40, true}, {'q', 40, true}, {'q', 20, true},   // queued launches still count
      {'+', 0, false}, {'p', 40, true}, {'+', 41, false},  // taking one frees its room only
      {'+', 40, true},
  };
  LaunchQueue queue(3, 100);
  int queued = 0;
  int taken = 0;
  for (const auto& s : steps) {
    switch (s.op) {
      case '+':
        EXPECT_EQ(queue.reserve(s.bytes), s.fits) << "+" << s.bytes;
        break;
      case '-':
        queue.release(s.bytes);
        break;
      case 'q':
        queue.push({{std::to_string(queued++)}, "", {}, {}}, s.bytes);
        break;
      case 'p':
        EXPECT_EQ(queue.pop().args, std::vector<std::string>{std::to_string(taken++)});
        break;
    }
  }
}

TEST(LaunchQueue, DefaultBoundsTakeSixtyFourLaunchesOrSixteenMiB) {
  const struct {
    std::size_t bytes;
    std::size_t fit;
  } cases[] = {
      {1, kMaxQueuedLaunches},
      {kMaxLaunchMessage, kMaxQueuedBytes / kMaxLaunchMessage},
      {kMaxLaunchMessage - 1, kMaxQueuedBytes / kMaxLaunchMessage},
  };
  for (const auto& c : cases) {
    LaunchQueue queue(kMaxQueuedLaunches, kMaxQueuedBytes);
    std::size_t fit = 0;
    while (fit <= kMaxQueuedLaunches && queue.reserve(c.bytes)) ++fit;
    EXPECT_EQ(fit, c.fit) << c.bytes;
  }
}

}  // namespace
}  // namespace vorlane
