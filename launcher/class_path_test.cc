#include "launcher/class_path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "launcher/fake_file_system.h"
#include "launcher/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace vorlane {
namespace {

/// /app/lib as listed: regular files core.jar, README, ui.jar, .jar, old.JAR,
/// link.jar (a link to a file); ext (an empty directory), dead.jar (a
/// dangling link) and plugins.jar (a directory) are not regular files. The
/// working directory holds x.jar and y.txt.
FakeFileSystem sample_disk() {
  FakeFileSystem disk;
  disk.listings["/app/lib/"] = {".",    "..",      "core.jar", "README",   "ext",        "ui.jar",
                                ".jar", "old.JAR", "link.jar", "dead.jar", "plugins.jar"};
  disk.listings["/app/lib/ext/"] = {".", ".."};
  disk.listings["./"] = {"x.jar", ".", "y.txt", ".."};
  for (const char* name : {"core.jar", "README", "ui.jar", ".jar", "old.JAR", "link.jar"}) {
    disk.regular_files.insert(std::string("/app/lib/") + name);
  }
  disk.regular_files.insert("./x.jar");
  disk.regular_files.insert("./y.txt");
  return disk;
}

TEST(ExpandClassPath, Table) {
  const std::string jars = "/app/lib/core.jar:/app/lib/ui.jar:/app/lib/link.jar";
  const struct {
    std::string before, after;
  } cases[] = {
      {"-Djava.class.path=/app/lib/*.jar", "-Djava.class.path=" + jars},
      {"-cp /app/lib/*",
       "-cp "
       "/app/lib/core.jar:/app/lib/README:/app/lib/ui.jar:/app/lib/.jar:/app/lib/old.JAR:/app/lib/"
       "link.jar"},
      {"-cp /app/lib/ext/*:/app/lib/*.jar", "-cp /app/lib/ext/*:" + jars},
      {"-cp *", "-cp ./x.jar:./y.txt"},
      {"-cp ./*.jar", "-cp ./x.jar"},
      {"-cp *.jar", "-cp *.jar"},    // exactly five bytes: not a wildcard
      {"-cp x*.jar", "-cp x*.jar"},  // six bytes: a wildcard whose pattern selects nothing
      {"-cp /app/lib/c*.jar", "-cp /app/lib/c*.jar"},
      {"-classpath /missing/*", "-classpath /missing/*"},
      {"-cp lib\\*", "-cp lib\\*"},
      {"-cp /app/lib/* x", "-cp /app/lib/* x"},
      {"-Djava.class.path=:a.jar::b.jar:", "-Djava.class.path=a.jar::b.jar"},
      {"-Djava.class.path=a.jar:::", "-Djava.class.path=a.jar::"},
      {"-Djava.class.path=:", "-Djava.class.path="},
      {"-Dtool.args=-cp /app/lib/*.jar", "-Dtool.args=-cp " + jars},
      {"-Dlist=-cp /app/lib/* -Djava.class.path=/app/lib/*.jar",
       "-Dlist=-cp /app/lib/* -Djava.class.path=" + jars},
      {"-cp", "-cp"},
      {"-classpath/app/lib/*", "-classpath/app/lib/*"},
      // Empty elements before the first expansion vanish, later ones stay.
      {"-cp :/app/lib/ext/*::/app/lib/*.jar:", "-cp /app/lib/ext/*::" + jars},
  };
  const FakeFileSystem disk = sample_disk();
  for (const auto& c : cases) {
    std::string option = c.before;
    expand_class_path(option, disk);
    EXPECT_EQ(option, c.after) << c.before;
  }
}

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

}  // namespace
}  // namespace vorlane
