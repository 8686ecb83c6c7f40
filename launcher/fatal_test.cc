#include "launcher/fatal.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

TEST(FatalDeathTest, BailPrintsMessageAndNewline) {
  EXPECT_EXIT(bail("Failed to create JVM: Error 0x%x", 0xffffffffu), testing::ExitedWithCode(1),
              "^Failed to create JVM: Error 0xffffffff\n$");
  // A prepared message goes through "%s": its % signs print as they are.
  EXPECT_EXIT(bail("%s", "50% of %s"), testing::ExitedWithCode(1), "^50% of %s\n$");
}

TEST(FatalDeathTest, ShowAlertPrintsTwoLines) {
  EXPECT_EXIT(show_alert("Invalid JVM option", "X"), testing::ExitedWithCode(1),
              "^Error: Invalid JVM option\nX\n$");
}

}  // namespace
}  // namespace vorlane
