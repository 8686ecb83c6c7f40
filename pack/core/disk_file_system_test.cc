#include "pack/core/disk_file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "testing/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace vorlane {
namespace {

// The packer expands a training run's class path with this disk; it must see
// what the launcher's disk sees: links followed, "." and ".." listed.
TEST(DiskFileSystem, AsTheLauncherSeesIt) {
  const ScopedTempDir temp;
  const std::string dir = temp.path() + "/";
  std::ofstream(dir + "a.jar") << "x";
  fs::create_directory(dir + "folder.jar");
  fs::create_symlink(dir + "a.jar", dir + "link.jar");
  fs::create_symlink(dir + "nowhere", dir + "dead.jar");
  const DiskFileSystem disk;
  const struct {
    std::string name;
    bool regular;
  } cases[] = {
      {"a.jar", true},     {"link.jar", true}, {"folder.jar", false},
      {"dead.jar", false}, {"missing", false},
  };
  std::vector<std::string> listed = disk.list_directory(dir).value_or(std::vector<std::string>{});
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed,
            (std::vector<std::string>{".", "..", "a.jar", "dead.jar", "folder.jar", "link.jar"}));
  for (const auto& c : cases) EXPECT_EQ(disk.is_regular_file(dir + c.name), c.regular) << c.name;
  EXPECT_EQ(disk.list_directory(dir + "missing/"), std::nullopt);
}

}  // namespace
}  // namespace vorlane
