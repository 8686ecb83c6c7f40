#include "pack/image/jar_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <fstream>

#include "launcher/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace vorlane {
namespace {

/// Writes a zip file at `path` with an empty entry for each of `names`.
void make_zip(const std::string& path, const std::vector<std::string>& names) {
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  ASSERT_NE(archive, nullptr);
  for (const std::string& name : names) {
    zip_source_t* source = zip_source_buffer(archive, "", 0, 0);
    ASSERT_GE(zip_file_add(archive, name.c_str(), source, 0), 0);
  }
  ASSERT_EQ(zip_close(archive), 0);
}

TEST(JarHasClass, PlainAndVersionedEntries) {
  const ScopedTempDir temp;
  const fs::path dir = temp.path();
  const std::string jar = (dir / "a.jar").string();
  make_zip(jar,
           {"META-INF/MANIFEST.MF", "demo/Main.class", "demo/Main$1.class",
            "META-INF/versions/11/demo/Newer.class", "META-INF/versions/11/x/demo/Deep.class"});
  const struct {
    const char* class_name;
    bool found;
  } cases[] = {
      {"demo.Main", true}, {"demo.Main$1", true}, {"demo.Newer", true}, {"demo.Other", false},
      {"Main", false},     {"demo.Deep", false},  {"demo", false},
  };
  std::string error;
  for (const auto& c : cases) {
    EXPECT_EQ(jar_has_class(jar, c.class_name, error), std::optional<bool>(c.found))
        << c.class_name;
  }

  const std::string not_zip = (dir / "b.jar").string();
  std::ofstream(not_zip) << "plain text";
  EXPECT_FALSE(jar_has_class(not_zip, "demo.Main", error));
  EXPECT_THAT(error, testing::HasSubstr("b.jar is not a readable jar"));
  EXPECT_FALSE(jar_has_class((dir / "missing.jar").string(), "demo.Main", error));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace vorlane
