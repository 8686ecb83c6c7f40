#include "pack/image/jar_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zip.h>

#include <fstream>

#include "testing/scoped_temp_dir.h"

namespace vorlane {
namespace {

/// Writes a zip file at `path` with an entry for each of `names`, each
/// holding four bytes that start no class file.
void make_zip(const std::string& path, const std::vector<std::string>& names) {
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  ASSERT_NE(archive, nullptr);
  for (const std::string& name : names) {
    zip_source_t* source = zip_source_buffer(archive, "abcd", 4, 0);
    ASSERT_GE(zip_file_add(archive, name.c_str(), source, 0), 0);
  }
  ASSERT_EQ(zip_close(archive), 0);
}

TEST(FindClass, PlainAndVersionedEntries) {
  const ScopedTempDir temp;
  const std::string jar = temp.path() + "/a.jar";
  make_zip(jar, {"META-INF/MANIFEST.MF", "demo/Main.class", "demo/Main$1.class",
                 "META-INF/versions/11/demo/Newer.class", "META-INF/versions/21/demo/Main.class",
                 "META-INF/versions/11/x/demo/Deep.class", "META-INF/versions/x/demo/Odd.class"});
  const MainMethods bad{MainMethod::kNotAClassFile, MainMethod::kNotAClassFile};
  const struct {
    const char* class_name;
    ClassEntries entries;
  } cases[] = {
      {"demo.Main", {{0, bad}, {21, bad}}},
      {"demo.Main$1", {{0, bad}}},
      {"demo.Newer", {{11, bad}}},
      {"demo.Other", {}},
      {"Main", {}},
      {"demo.Deep", {}},
      {"demo.Odd", {}},
  };
  for (const auto& c : cases) {
    const Result<ClassEntries> found = find_class(jar, c.class_name);
    ASSERT_TRUE(found) << found.error().message;
    EXPECT_EQ(*found, c.entries) << c.class_name;
  }
  EXPECT_EQ(loaded_entry({{0, bad}, {21, bad}}, 17), std::make_pair(0, bad));
  EXPECT_EQ(loaded_entry({{0, bad}, {21, bad}}, 21), std::make_pair(21, bad));
  EXPECT_EQ(loaded_entry({{21, bad}}, 17), std::nullopt);

  const std::string not_zip = temp.path() + "/b.jar";
  std::ofstream(not_zip) << "plain text";
  const Result<ClassEntries> refused = find_class(not_zip, "demo.Main");
  ASSERT_FALSE(refused);
  EXPECT_THAT(refused.error().message, testing::HasSubstr("b.jar is not a readable jar"));
  EXPECT_FALSE(find_class(temp.path() + "/missing.jar", "demo.Main"));
}

TEST(ManifestClassPath, MainSectionEntriesWithContinuationLines) {
  const struct {
    const char* manifest;
    std::vector<std::string> want;
  } cases[] = {
      {"Manifest-Version: 1.0\r\nClass-Path: a.jar  ../\r\n\r\n", {"a.jar", "../"}},
      // A long value wraps at 72 bytes: the next line starts with one space.
      {"class-path: lib/a.j\n ar lib/b.jar\n", {"lib/a.jar", "lib/b.jar"}},
      {"Main-Class: x\rCLASS-PATH: .\r", {"."}},
      // Only the main section counts, which an empty line ends.
      {"Manifest-Version: 1.0\n\nName: x/\nClass-Path: ../\n", {}},
      {"Class-Paths: a.jar\nX-Class-Path: b.jar\nClass-Path:\n", {}},
      {"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(manifest_class_path(c.manifest), c.want) << c.manifest;
  }
}

}  // namespace
}  // namespace vorlane
