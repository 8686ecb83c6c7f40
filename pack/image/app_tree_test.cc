#include "pack/image/app_tree.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "launcher/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace vorlane {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

class AppTreeTest : public testing::Test {
 public:
  std::string path(const std::string& relative) const { return (root_ / relative).string(); }
  void file(const std::string& relative, const std::string& text = "x") const {
    fs::create_directories(fs::path(path(relative)).parent_path());
    std::ofstream(path(relative)) << text;
  }
  /// A tree as `vorlane-pack app` leaves it.
  void earlier_output(const std::string& relative) const {
    file(relative + "/bin/app");
    file(relative + "/lib/app/a.jar");
    file(relative + "/lib/runtime/release");
    file(relative + "/lib/vorlane-app.conf", "name=app\n");
  }

  ScopedTempDir temp_;
  const fs::path root_ = temp_.path();
};

TEST_F(AppTreeTest, DestinationIsReplacedOnlyWhenEmptyOrAnEarlierOutput) {
  const struct {
    const char* what;
    std::function<void(const AppTreeTest&)> make;
    std::optional<Destination> expected;
    const char* error;
  } cases[] = {
      {"nothing there", [](const AppTreeTest&) {}, Destination::kAbsent, ""},
      {"an empty folder", [](const AppTreeTest& t) { fs::create_directory(t.path("d")); },
       Destination::kEmpty, ""},
      {"an earlier output", [](const AppTreeTest& t) { t.earlier_output("d"); },
       Destination::kEarlierOutput, ""},
      {"a user's folder", [](const AppTreeTest& t) { t.file("d/notes.txt"); }, std::nullopt,
       "is not an app tree made by vorlane-pack (it has no lib/vorlane-app.conf); the packer will "
       "not replace it"},
      {"a user's folder with a lib/", [](const AppTreeTest& t) { t.file("d/lib/x.so"); },
       std::nullopt, "it has no lib/vorlane-app.conf"},
      {"an earlier output with a folder added",
       [](const AppTreeTest& t) {
         t.earlier_output("d");
         t.file("d/data/db.sqlite");
       },
       std::nullopt, "it holds 'data', which the packer did not make"},
      {"an earlier output with a file added to lib/",
       [](const AppTreeTest& t) {
         t.earlier_output("d");
         t.file("d/lib/plugins.txt");
       },
       std::nullopt, "it holds 'plugins.txt'"},
      {"a file", [](const AppTreeTest& t) { t.file("d"); }, std::nullopt,
       "exists and is not a folder"},
      {"a link to an earlier output",
       [](const AppTreeTest& t) {
         t.earlier_output("real");
         fs::create_directory_symlink(t.path("real"), t.path("d"));
       },
       std::nullopt, "is a symbolic link"},
  };
  for (const auto& c : cases) {
    fs::remove_all(path("d"));
    fs::remove_all(path("real"));
    c.make(*this);
    std::string error;
    EXPECT_EQ(check_destination(path("d"), error), c.expected) << c.what;
    EXPECT_THAT(error, HasSubstr(c.error)) << c.what;
  }
}

TEST_F(AppTreeTest, FindJarsAtAnyDepthInByteOrder) {
  file("in/b.jar");
  file("in/A.jar");
  file("in/lib/c.jar");
  file("in/readme.txt");
  file("in/.jar");
  file("in/x.jar.bak");
  fs::create_directories(path("in/folder.jar"));
  fs::create_symlink(path("in/b.jar"), path("in/link.jar"));
  std::string error;
  EXPECT_THAT(find_jars(path("in"), error).value_or(std::vector<std::string>{"(failed)"}),
              ElementsAre("A.jar", "b.jar", "lib/c.jar", "link.jar"));
  EXPECT_FALSE(find_jars(path("missing"), error));
  EXPECT_THAT(error, HasSubstr("cannot read"));
}

TEST_F(AppTreeTest, PathsOverlap) {
  fs::create_directories(path("a/b"));
  fs::create_directory_symlink(path("a"), path("link"));
  const struct {
    std::string a, b;
    bool overlap;
  } cases[] = {
      {path("a"), path("a"), true},
      {path("a"), path("a/b"), true},
      {path("a/b"), path("a"), true},
      {path("a/b/new/deeper"), path("a"), true},  // not there yet
      {path("link/b"), path("a"), true},          // through a link
      {path("a"), path("ab"), false},             // a prefix of the name only
      {path("a/b"), path("a/c"), false},
      {path("a") + "/", path("a/b"), true},
  };
  for (const auto& c : cases) EXPECT_EQ(paths_overlap(c.a, c.b), c.overlap) << c.a << " " << c.b;
}

TEST_F(AppTreeTest, StagingIsRemovedUnlessCommitted) {
  std::string error;
  std::string staged;
  {
    std::optional<StagingDir> staging = StagingDir::create(path("dest/app"), error);
    ASSERT_TRUE(staging) << error;
    staged = staging->path();
    EXPECT_EQ(fs::path(staged).parent_path(), path("dest"));
    EXPECT_EQ(fs::status(staged).permissions() & fs::perms::others_exec, fs::perms::others_exec);
    file(fs::relative(staged, root_).string() + "/half-made");
  }
  EXPECT_FALSE(fs::exists(staged));
  EXPECT_FALSE(fs::exists(path("dest/app")));
}

TEST_F(AppTreeTest, CommitPutsTheNewTreeInPlaceWhole) {
  for (const Destination existing :
       {Destination::kAbsent, Destination::kEmpty, Destination::kEarlierOutput}) {
    fs::remove_all(path("dest"));
    if (existing == Destination::kEmpty) fs::create_directories(path("dest/app"));
    if (existing == Destination::kEarlierOutput) earlier_output("dest/app");
    std::string error;
    std::optional<StagingDir> staging = StagingDir::create(path("dest/app"), error);
    ASSERT_TRUE(staging) << error;
    file(fs::relative(staging->path(), root_).string() + "/bin/new");
    ASSERT_TRUE(staging->commit(existing, error)) << error;
    staging.reset();
    EXPECT_TRUE(fs::exists(path("dest/app/bin/new")));
    EXPECT_FALSE(fs::exists(path("dest/app/bin/app")));
    // Nothing else is left beside it: no staging folder, no old tree.
    EXPECT_EQ(std::distance(fs::directory_iterator(path("dest")), fs::directory_iterator()), 1);
  }
}

TEST_F(AppTreeTest, CommitFailsWhenAFolderAppearedMeanwhile) {
  std::string error;
  std::optional<StagingDir> staging = StagingDir::create(path("dest/app"), error);
  ASSERT_TRUE(staging) << error;
  file("dest/app/user.txt");
  EXPECT_FALSE(staging->commit(Destination::kAbsent, error));
  EXPECT_THAT(error, HasSubstr("cannot move the new tree to"));
  staging.reset();
  EXPECT_TRUE(fs::exists(path("dest/app/user.txt")));
}

}  // namespace
}  // namespace vorlane
