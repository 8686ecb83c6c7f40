#include "launcher/instance_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

namespace vorlane {
namespace {

TEST(InstanceFolder, RuntimeDirWhenAbsoluteElseTmp) {
  const struct {
    const char* xdg;
    std::string folder;
  } cases[] = {
      {"/run/user/1000", "/run/user/1000/vorlane"},
      {"/run/user/1000//", "/run/user/1000/vorlane"},
      {"/", "/vorlane"},
      {nullptr, "/tmp/vorlane-1000"},
      {"", "/tmp/vorlane-1000"},
      {"run/user/1000", "/tmp/vorlane-1000"},  // relative: not to be used
  };
  for (const auto& c : cases) {
    EXPECT_EQ(instance_folder(c.xdg, 1000), c.folder) << (c.xdg ? c.xdg : "(unset)");
  }
}

TEST(InstanceFolder, OnlyAPrivateFolderOfTheUser) {
  const struct {
    FolderFacts facts;
    std::string problem;
  } cases[] = {
      {{true, false, 1000, S_IFDIR | 0700}, ""},
      {{true, false, 1000, S_IFDIR | 0500}, ""},
      {{false, true, 1000, S_IFLNK | 0777}, "is a symbolic link"},
      {{false, false, 1000, S_IFREG | 0600}, "is not a folder"},
      {{true, false, 0, S_IFDIR | 0700}, "belongs to user 0, not to 1000"},
      {{true, false, 1000, S_IFDIR | 0701}, "has mode 0701: others than its owner may use it"},
      {{true, false, 1000, S_IFDIR | 01777}, "has mode 1777: others than its owner may use it"},
  };
  for (const auto& c : cases) EXPECT_EQ(folder_problem(c.facts, 1000).value_or(""), c.problem);
}

TEST(InstanceFolder, OnlyUnderAParentNobodyElseMayRenameIn) {
  const struct {
    uid_t owner;
    mode_t mode;
    std::string problem;
  } cases[] = {
      {1000, S_IFDIR | 0700, ""},
      {1000, S_IFDIR | 0755, ""},
      {0, S_IFDIR | 0755, ""},   // /run/user
      {0, S_IFDIR | 01777, ""},  // /tmp: others may not rename what is the user's
      {1000, S_IFDIR | 01770, ""},
      {1000, S_IFDIR | 0777, "may be renamed by others: its parent has mode 0777"},
      {1000, S_IFDIR | 0720, "may be renamed by others: its parent has mode 0720"},
      {0, S_IFDIR | 0757, "may be renamed by others: its parent has mode 0757"},
      // Its owner may rename anything in it, sticky or not.
      {65534, S_IFDIR | 0755, "may be renamed by others: its parent belongs to user 65534"},
      {65534, S_IFDIR | 01777, "may be renamed by others: its parent belongs to user 65534"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parent_problem({true, false, c.owner, c.mode}, 1000).value_or(""), c.problem)
        << c.owner << " " << std::oct << c.mode;
  }
}

}  // namespace
}  // namespace vorlane
