#include "pack/commands/cds.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "pack/core/process.h"
#include "pack/image/app_tree.h"
#include "pack/image/burn.h"
#include "pack/image/marker.h"
#include "pack/image/plan.h"
#include "testing/scoped_temp_dir.h"

namespace vorlane {
namespace {

// An interrupt while the runtime's archive is dumped ends `cds` with 130 and
// says so, as one during the training run does, not as a failed step (1).
// In a child process: the interrupt stays recorded in the process for good.
TEST(RemakeArchive, AnInterruptDuringTheRuntimesDumpIsNoFailedStep) {
  const std::string template_path = VORLANE_TEMPLATE_PATH;
  if (template_path.empty() || !std::filesystem::exists(template_path)) {
    GTEST_SKIP() << "this build makes no launcher template";
  }
  const ScopedTempDir temp;
  const std::string tree = temp.path() + "/app";
  std::filesystem::create_directories(tree + "/bin");
  std::filesystem::create_directories(tree + "/lib/runtime");
  ASSERT_TRUE(write_marker(tree + "/lib/" + kMarkerName, {"app", {}, {}, std::nullopt}));
  formats::BurnedInData block;
  block.main_class = "demo.Main";
  ASSERT_EQ(burn(template_path, tree + "/bin/app", block, kAppStackSize),
            std::vector<std::string>{});
  CdsOptions o;
  o.app_dir = tree;
  EXPECT_EXIT(
      {
        install_interrupt_handlers();
        (void)std::raise(SIGINT);
        std::exit(remake_archive(o));
      },
      testing::ExitedWithCode(130), "interrupted; " + tree + " has no new class-data archive");
}

}  // namespace
}  // namespace vorlane
