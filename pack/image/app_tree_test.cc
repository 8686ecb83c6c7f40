#include "pack/image/app_tree.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "testing/scoped_temp_dir.h"

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
    file(relative + "/lib/vorlane-app.conf",
         "name=app\nmade=bin\nmade=bin/app\nmade=lib\nmade=lib/app\nmade=lib/app/a.jar\n"
         "made=lib/runtime\nmade=lib/runtime/release\n");
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
      {"an earlier output with its archives",
       [](const AppTreeTest& t) {
         t.earlier_output("d");
         t.file("d/lib/app/vorlane-app.jsa");
         t.file("d/bin/.app.training-x1Yz2a");
       },
       Destination::kEarlierOutput, ""},
      // Once lost without a word when the tree was made again.
      {"an earlier output with files added",
       [](const AppTreeTest& t) {
         t.earlier_output("d");
         t.file("d/data/db.sqlite");
         t.file("d/bin/helper.sh");
         t.file("d/lib/app/user.properties");
       },
       std::nullopt,
       "what the packer did not make; the packer will not replace it. Move these "
       "away or choose another --dest:\n  bin/helper.sh\n  data\n  lib/app/user.properties"},
      {"an earlier packer's output with a file added to lib/",
       [](const AppTreeTest& t) {
         t.earlier_output("d");
         t.file("d/lib/vorlane-app.conf", "name=app\n");
         t.file("d/lib/plugins.txt");
       },
       std::nullopt, "Move these away or choose another --dest:\n  lib/plugins.txt"},
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
    const Result<Destination> found = check_destination(path("d"));
    if (c.expected) {
      ASSERT_TRUE(found) << c.what << ": " << found.error().message;
      EXPECT_EQ(*found, *c.expected) << c.what;
    } else {
      ASSERT_FALSE(found) << c.what;
      EXPECT_THAT(found.error().message, HasSubstr(c.error)) << c.what;
    }
  }
}

TEST_F(AppTreeTest, JarsAreRegularFilesNamedDotJar) {
  using Type = TreeEntry::Type;
  const std::vector<TreeEntry> entries = {
      {"A.jar", Type::kFile, ""},     {"b.jar", Type::kFile, ""},   {".jar", Type::kFile, ""},
      {"x.jar.bak", Type::kFile, ""}, {"d.jar", Type::kFolder, ""}, {"l.jar", Type::kLink, "b.jar"},
      {"lib/c.jar", Type::kFile, ""}};
  EXPECT_THAT(jars_among(entries), ElementsAre("A.jar", "b.jar", "lib/c.jar"));
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

}  // namespace
}  // namespace vorlane
