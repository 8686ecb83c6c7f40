#include "pack/core/staging.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testing/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace vorlane {
namespace {

class StagingTest : public testing::Test {
 public:
  std::string path(const std::string& relative) const { return (root_ / relative).string(); }
  void file(const std::string& at) const {
    fs::create_directories(fs::path(at).parent_path());
    std::ofstream(at) << "x";
  }

  ScopedTempDir temp_;
  const fs::path root_ = temp_.path();
};

TEST_F(StagingTest, RemovedUnlessCommittedAndLeftoversOfKilledRunsGo) {
  // A killed run's folder holds no lock: the next run removes it. One
  // whose run is still at work stays.
  file(path("dest/.app.vorlane-killed/lib/big"));
  Result<StagingDir> working = StagingDir::create(path("dest/app"));
  ASSERT_TRUE(working);
  EXPECT_FALSE(fs::exists(path("dest/.app.vorlane-killed")));
  std::string staged;
  {
    Result<StagingDir> staging = StagingDir::create(path("dest/app"));
    ASSERT_TRUE(staging) << staging.error().message;
    staged = staging->path();
    EXPECT_EQ(fs::path(staged).parent_path(), path("dest"));
    EXPECT_EQ(fs::status(staged).permissions() & fs::perms::others_exec, fs::perms::others_exec);
    EXPECT_TRUE(fs::exists(working->path()));
    file(staged + "/half-made");
  }
  EXPECT_FALSE(fs::exists(staged));
  EXPECT_FALSE(fs::exists(path("dest/app")));
}

TEST_F(StagingTest, CommitPutsTheNewTreeInPlaceWhole) {
  for (const bool earlier : {false, true}) {
    fs::remove_all(path("dest"));
    if (earlier) file(path("dest/app/bin/app"));
    {
      Result<StagingDir> staging = StagingDir::create(path("dest/app"));
      ASSERT_TRUE(staging);
      file(staging->path() + "/bin/new");
      ASSERT_TRUE(staging->commit(earlier));
    }  // gone, and with it the old tree
    EXPECT_TRUE(fs::exists(path("dest/app/bin/new")));
    EXPECT_FALSE(fs::exists(path("dest/app/bin/app")));
    EXPECT_EQ(std::distance(fs::directory_iterator(path("dest")), {}), 1);  // nothing beside it
  }
  // A folder that filled up meanwhile is not replaced.
  Result<StagingDir> staging = StagingDir::create(path("other/app"));
  ASSERT_TRUE(staging);
  file(path("other/app/user.txt"));
  const Status committed = staging->commit(false);
  ASSERT_FALSE(committed);
  EXPECT_THAT(committed.error().message, testing::HasSubstr("cannot move the new tree to"));
  EXPECT_TRUE(fs::exists(path("other/app/user.txt")));
}

}  // namespace
}  // namespace vorlane
