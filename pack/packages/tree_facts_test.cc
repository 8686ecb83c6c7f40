#include "pack/packages/tree_facts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace vorlane::packages {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(TreeFacts, RefusesLinksThatLeaveTheTreeAndOddFiles) {
  struct Case {
    const char* what;
    void (*make)(const fs::path& tree);
    const char* message;  // "" when the tree passes
  };
  const Case cases[] = {
      {"plain tree", [](const fs::path&) {}, ""},
      {"link inside",
       [](const fs::path& t) { fs::create_symlink("../app/a.jar", t / "lib/runtime/a.jar"); }, ""},
      {"link to a folder inside", [](const fs::path& t) { fs::create_symlink("app", t / "lib/x"); },
       ""},
      {"absolute link",
       [](const fs::path& t) { fs::create_symlink("/etc/shadow", t / "lib/app/s"); },
       "lib/app/s points to /etc/shadow, outside the tree"},
      {"relative link out",
       [](const fs::path& t) { fs::create_symlink("../../../etc/shadow", t / "lib/app/s"); },
       "points to ../../../etc/shadow, outside"},
      {"link to the tree's parent",
       [](const fs::path& t) { fs::create_symlink("../..", t / "lib/up"); }, "outside the tree"},
      {"FIFO", [](const fs::path& t) { mkfifo((t / "lib/app/f").c_str(), 0644); },
       "lib/app/f is a FIFO"},
  };
  for (const Case& c : cases) {
    const fs::path tree = fs::path(testing::TempDir()) / "tree-contents";
    fs::remove_all(tree);
    fs::create_directories(tree / "lib/app");
    fs::create_directories(tree / "lib/runtime");
    std::ofstream(tree / "lib/app/a.jar") << "jar";
    c.make(tree);
    const Status checked = check_tree_contents(tree.string());
    if (std::string(c.message).empty()) {
      EXPECT_TRUE(checked.ok()) << c.what << ": " << checked.error().message;
    } else {
      ASSERT_FALSE(checked.ok()) << c.what;
      EXPECT_EQ(checked.error().kind, ErrorKind::kBadInput) << c.what;
      EXPECT_THAT(checked.error().message, HasSubstr(c.message)) << c.what;
    }
    fs::remove_all(tree);
  }
}

}  // namespace
}  // namespace vorlane::packages
