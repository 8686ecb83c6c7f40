#include "formats/class_path.h"

#include <gtest/gtest.h>

#include <string>

#include "formats/fake_file_system.h"

namespace vorlane::formats {
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

}  // namespace
}  // namespace vorlane::formats
