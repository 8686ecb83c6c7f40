#include "pack/image/glibc_floor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testing/scoped_temp_dir.h"

namespace vorlane {
namespace {

TEST(GlibcFloor, TheHighestNeedSetsItAndANoteNamesWhomItShutsOut) {
  const GlibcNeed launcher{{2, 17}, "bin/app"};
  const GlibcNeed jli{{2, 34}, "lib/runtime/lib/libjli.so"};
  const GlibcNeed java{{2, 34}, "lib/runtime/bin/java"};
  const GlibcNeed native{{2, 31}, "lib/app/libnative.so"};
  const GlibcNeed new_launcher{{2, 36}, "bin/app"};
  const struct {
    const char* what;
    std::vector<GlibcNeed> needs;
    std::string line;
    std::string note;  // "" for none
  } cases[] = {
      {"nothing needs glibc", {}, "", ""},
      {"the launcher alone", {launcher}, "glibc: 2.17 or later (bin/app)", ""},
      {"a runtime built for old systems",
       {launcher, {{2, 17}, "lib/runtime/lib/libjava.so"}},
       "glibc: 2.17 or later (bin/app)",
       ""},
      {"a runtime that raises it, first file in byte order",
       {launcher, jli, java},
       "glibc: 2.34 or later (lib/runtime/bin/java)",
       "lib/runtime/bin/java needs glibc 2.34 (the launcher needs 2.17), so the app does not "
       "start on RHEL 8, Debian 11, Ubuntu 20.04, SLES 15, openSUSE Leap 15. A JDK built for "
       "older systems (such as one built on glibc 2.17, as most portable JDK builds are) reaches "
       "them."},
      {"a native library of the app",
       {native, launcher},
       "glibc: 2.31 or later (lib/app/libnative.so)",
       "lib/app/libnative.so needs glibc 2.31 (the launcher needs 2.17), so the app does not "
       "start on RHEL 8. A build of that library for older systems reaches them."},
      {"the launcher itself sets it", {new_launcher, jli}, "glibc: 2.36 or later (bin/app)", ""},
  };
  for (const auto& c : cases) {
    const TreeGlibc glibc = tree_glibc(c.needs, "bin/app");
    EXPECT_EQ(glibc_floor_line(glibc), c.line) << c.what;
    EXPECT_EQ(glibc_floor_note(glibc).value_or(""), c.note) << c.what;
  }
}

TEST(GlibcFloor, ReadsTheTreesElfFilesAndRefusesADamagedOne) {
  const ScopedTempDir temp;
  const std::string tree = temp.path() + "/app";
  namespace fs = std::filesystem;
  fs::create_directories(tree + "/bin");
  fs::create_directories(tree + "/lib/app");
  fs::create_directories(tree + "/lib/runtime/lib");
  // A real program of this machine as the launcher.
  fs::copy_file("/bin/true", tree + "/bin/app");
  const auto write = [&](const std::string& path, const std::string& bytes) {
    std::ofstream(tree + "/" + path, std::ios::binary) << bytes;
  };
  write("lib/app/readme.txt", "\177EL");
  write("lib/app/lib32.so", std::string("\177ELF\1\1\1", 7) + std::string(64, '\0'));
  fs::create_symlink("../../bin/app", tree + "/lib/app/link");

  const auto needs = read_glibc_needs(tree);
  ASSERT_TRUE(needs) << needs.error().message;
  ASSERT_EQ(needs->size(), 1u);
  EXPECT_EQ((*needs)[0].file, "bin/app");
  EXPECT_GE((*needs)[0].version, (GlibcVersion{2, 2, 5}));

  write("lib/runtime/lib/libbad.so", std::string("\177ELF\2\1\1", 7) + std::string(64, '\0'));
  const auto damaged = read_glibc_needs(tree);
  ASSERT_FALSE(damaged);
  EXPECT_NE(damaged.error().message.find("lib/runtime/lib/libbad.so"), std::string::npos)
      << damaged.error().message;
}

}  // namespace
}  // namespace vorlane
