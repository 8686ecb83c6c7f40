// The class-path pass over the launcher's real disk.
#include "launcher/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "formats/class_path.h"
#include "testing/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace vorlane {

using formats::expand_class_path;
using formats::expand_wildcard;

namespace {

/// A real directory: the system's listing order is whatever it is, so the
/// expected matches are compared as a set, and their order against the
/// listing itself.
class ClassPathOnDiskTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = temp_.path() + "/";
    for (const char* name : {"core.jar", "README", ".jar", "old.JAR"})
      std::ofstream(dir_ + name) << "x";
    fs::create_directory(dir_ + "plugins.jar");
    fs::create_symlink(dir_ + "core.jar", dir_ + "link.jar");
    fs::create_symlink(dir_ + "nowhere", dir_ + "dead.jar");
    fs::create_directory_symlink(dir_ + "plugins.jar", dir_ + "dirlink.jar");
  }
  ScopedTempDir temp_;
  std::string dir_;
};

TEST_F(ClassPathOnDiskTest, SelectsRegularFilesLinksFollowed) {
  const SystemFileSystem disk;
  std::vector<std::string> listing = *disk.list_directory(dir_);
  std::vector<std::string> expected;
  for (const std::string& name : listing) {
    if (name == "core.jar" || name == "link.jar") expected.push_back(dir_ + name);
  }
  std::string joined;
  for (const std::string& path : expected) joined += (joined.empty() ? "" : ":") + path;
  EXPECT_EQ(expand_wildcard(dir_ + "*.jar", disk), joined);

  const std::string all = expand_wildcard(dir_ + "*", disk);
  for (const char* name : {"core.jar", "README", ".jar", "old.JAR", "link.jar"}) {
    EXPECT_NE(all.find(dir_ + name), std::string::npos) << name;
  }
  for (const char* name : {"plugins.jar", "dead.jar", "dirlink.jar"}) {
    EXPECT_EQ(all.find(dir_ + name), std::string::npos) << name;
  }
}

TEST_F(ClassPathOnDiskTest, DirectoriesThatCannotBeListedStayAsWritten) {
  fs::create_directory_symlink(dir_ + "self", dir_ + "self");  // a link to itself
  fs::create_directory(dir_ + "mixed");  // a listable directory with a looping entry
  fs::create_symlink(dir_ + "mixed/loop.jar", dir_ + "mixed/loop.jar");
  std::ofstream(dir_ + "mixed/good.jar") << "x";
  const SystemFileSystem disk;
  std::string option = "-cp " + dir_ + "self/*.jar:" + dir_ + "mixed/*.jar:" + dir_ +
                       "README/*:" + dir_ + "missing/*";
  expand_class_path(option, disk);
  EXPECT_EQ(option, "-cp " + dir_ + "self/*.jar:" + dir_ + "mixed/good.jar:" + dir_ +
                        "README/*:" + dir_ + "missing/*");
}

TEST_F(ClassPathOnDiskTest, DirectoryOfTenThousandJars) {
  fs::create_directory(dir_ + "many");
  std::set<std::string> jars;
  for (int i = 0; i < 10000; ++i) {
    const std::string jar = dir_ + "many/lib" + std::to_string(i) + ".jar";
    std::ofstream(jar) << "x";
    jars.insert(jar);
  }
  std::ofstream(dir_ + "many/notes.txt") << "x";
  const std::string expanded = expand_wildcard(dir_ + "many/*.jar", SystemFileSystem());
  std::multiset<std::string> found;
  for (std::size_t start = 0, colon = 0; colon != std::string::npos; start = colon + 1) {
    colon = expanded.find(':', start);
    found.insert(expanded.substr(start, colon - start));
  }
  EXPECT_EQ(found, std::multiset<std::string>(jars.begin(), jars.end()));
}

}  // namespace
}  // namespace vorlane
