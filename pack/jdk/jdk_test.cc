#include "pack/jdk/jdk.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "pack/core/elf_section.h"
#include "testing/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace vorlane {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

TEST(JavaFeatureVersion, Table) {
  const struct {
    const char* release;
    std::optional<int> feature;
  } cases[] = {
      {"IMPLEMENTOR=\"Debian\"\nJAVA_VERSION=\"17.0.15\"\n", 17},
      {"JAVA_VERSION=\"21\"\n", 21},
      {"JAVA_VERSION=\"25-ea\"\n", 25},
      {"JAVA_VERSION=17.0.1\n", 17},
      {"JAVA_VERSION=\"1.8.0_412\"\n", std::nullopt},
      {"JAVA_VERSION=\"\"\n", std::nullopt},
      {"JAVA_VERSION=\"abc\"\n", std::nullopt},
      {"JAVA_RUNTIME_VERSION=\"17.0.15+6\"\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(java_feature_version(c.release), c.feature) << c.release;
  EXPECT_THAT(release_modules("JAVA_VERSION=\"17\"\nMODULES=\"java.base java.logging\"\n"),
              ElementsAre("java.base", "java.logging"));
  EXPECT_THAT(release_modules("JAVA_VERSION=\"17\"\n"), ElementsAre());
}

TEST(ModuleName, Table) {
  const struct {
    const char* name;
    bool valid;
  } cases[] = {
      {"java.base", true}, {"jdk.unsupported", true},
      {"a_b.c2", true},    {"x", true},
      {"", false},         {"java..base", false},
      {".x", false},       {"x.", false},
      {"java.2d", false},  {"a-b", false},
      {"a b", false},      {"a,b", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_module_name(c.name), c.valid) << c.name;
}

TEST(ParseModuleDeps, TakesTheLastLine) {
  const struct {
    const char* output;
    std::optional<std::vector<std::string>> modules;
  } cases[] = {
      {"java.base\n", std::vector<std::string>{"java.base"}},
      {"java.base,java.desktop,jdk.unsupported\n",
       std::vector<std::string>{"java.base", "java.desktop", "jdk.unsupported"}},
      {"Warning: split package\njava.base,java.sql\r\n\n",
       std::vector<std::string>{"java.base", "java.sql"}},
      {"", std::vector<std::string>{}},
      {"Error: a.jar is a multi-release jar file but --multi-release option is not set\n",
       std::nullopt},
      {"java.base,\n", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_module_deps(c.output), c.modules) << c.output;
}

TEST(MergeModules, SortedUniqueWithJavaBase) {
  std::string bad;
  EXPECT_EQ(merge_modules({"java.sql"}, {"jdk.localedata,java.sql", "jdk.crypto.ec"}, bad),
            (std::vector<std::string>{"java.base", "java.sql", "jdk.crypto.ec", "jdk.localedata"}));
  EXPECT_EQ(merge_modules({}, {}, bad), std::vector<std::string>{"java.base"});
  for (const char* value : {"java.sql,", "", "java sql", "ALL-MODULE-PATH"}) {
    EXPECT_FALSE(merge_modules({}, {value}, bad)) << value;
    EXPECT_EQ(bad, value);
  }
}

/// A temporary folder of fake JDKs whose tools are bare ELF headers.
class FakeJdks : public testing::Test {
 protected:
  /// A JDK at root/name whose tools are built for `machine`.
  std::string jdk(const std::string& name, std::uint16_t machine) {
    const fs::path home = root_ / name;
    fs::create_directories(home / "bin");
    std::string header(64, '\0');
    header.replace(0, 6, "\177ELF\2\1");
    header[18] = static_cast<char>(machine & 0xFF);
    header[19] = static_cast<char>(machine >> 8);
    for (const char* tool : {"jlink", "jdeps", "javac"}) {
      std::ofstream(home / "bin" / tool, std::ios::binary) << header;
      fs::permissions(home / "bin" / tool, fs::perms::owner_all);
    }
    return home.string();
  }
  std::string dir(const std::string& name) {
    fs::create_directories(root_ / name);
    return (root_ / name).string();
  }

  ScopedTempDir temp_;
  const fs::path root_ = temp_.path();
};

constexpr std::uint16_t kHost = kMachineX86_64;

TEST_F(FakeJdks, SearchOrder) {
  const std::string host_jdk = jdk("host", kHost);
  const std::string arm_jdk = jdk("arm", kMachineAArch64);
  const std::string home_jdk = jdk("home", kHost);
  const std::string path_jdk = jdk("path", kHost);
  const std::string not_a_jdk = dir("jre");
  const std::string links = dir("links");
  fs::create_symlink(path_jdk + "/bin/javac", links + "/javac");
  const std::string no_javac = dir("empty");

  const struct {
    const char* what;
    JdkSearch search;
    std::string found;
    const char* error;
  } cases[] = {
      {"--jdk for this machine", {host_jdk, home_jdk, links, kHost}, host_jdk, ""},
      {"--jdk for another machine lends only its jmods",
       {arm_jdk, home_jdk, links, kHost},
       home_jdk,
       ""},
      {"JAVA_HOME", {"", home_jdk, links, kHost}, home_jdk, ""},
      {"javac on PATH, links resolved",
       {"", std::nullopt, no_javac + ":" + links, kHost},
       path_jdk,
       ""},
      {"an empty JAVA_HOME counts as unset", {"", "", links, kHost}, path_jdk, ""},
      {"JAVA_HOME that is no JDK", {"", not_a_jdk, links, kHost}, "", "is not a JDK"},
      {"nothing", {"", std::nullopt, no_javac, kHost}, "", "no JDK found"},
      {"no PATH", {"", std::nullopt, std::nullopt, kHost}, "", "no JDK found"},
  };
  for (const auto& c : cases) {
    const Result<std::string> found = find_host_jdk(c.search);
    if (c.found.empty()) {
      ASSERT_FALSE(found) << c.what;
      EXPECT_THAT(found.error().message, HasSubstr(c.error)) << c.what;
    } else {
      ASSERT_TRUE(found) << c.what << ": " << found.error().message;
      EXPECT_EQ(*found, c.found) << c.what;
    }
  }
}

TEST(Jlink, FromJmodsOrItsOwnImage) {
  Jdk jdk17{"/j17", kMachineX86_64, "", 17, true, "17.0.15", false};
  Jdk jdk25{"/j25", kMachineX86_64, "", 25, false, "25.0.3", true};
  EXPECT_EQ(
      jlink_command(jdk17, jdk17, {"java.base"}, "/out", true),
      (std::vector<std::string>{"/j17/bin/jlink", "--module-path", "/j17/jmods", "--add-modules",
                                "java.base", "--strip-debug", "--no-man-pages", "--no-header-files",
                                "--generate-cds-archive", "--output", "/out"}));
  EXPECT_EQ(jlink_command(jdk25, jdk25, {"java.base", "java.sql"}, "/out", false),
            (std::vector<std::string>{"/j25/bin/jlink", "--add-modules", "java.base,java.sql",
                                      "--strip-debug", "--no-man-pages", "--no-header-files",
                                      "--output", "/out"}));
  EXPECT_TRUE(
      links_from_runtime_image("Usage: jlink <options>\n  --verbose\nCapabilities:\n      Linking "
                               "from run-time image enabled\n"));
  EXPECT_FALSE(links_from_runtime_image("Usage: jlink <options>\n  --verbose\n"));
  EXPECT_FALSE(
      links_from_runtime_image("Capabilities:\n      Linking from run-time image disabled\n"));
  EXPECT_EQ(release_java_version("IMPLEMENTOR=x\nJAVA_VERSION=\"25.0.3\"\n"), "25.0.3");
}

}  // namespace
}  // namespace vorlane
