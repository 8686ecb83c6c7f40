// The packer and the built template, end to end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "e2e/app_tree.h"
#include "formats/launch_data.h"
#include "pack/core/elf_section.h"
#include "pack/core/files.h"

namespace fs = std::filesystem;

namespace vorlane::e2e {

using formats::kLaunchAreaSection;
using formats::kLaunchAreaSize;

namespace {

using testing::HasSubstr;
using testing::Not;

TEST(Pack, ShowPrintsTheBurnedBlock) {
  AppTree tree;
  const RunResult burned = tree.burn(
      {"--main-class", "demo.Main", "--java-option", "-Xmx1g", "--java-option", "-Dapp.dir=&&",
       "--argument", "--mode", "--allow-java-option", "-Xmx", "--console", "--stack-size", "3m"});
  ASSERT_EQ(burned.status, 0) << burned.err;
  EXPECT_TRUE(fs::status(tree.launcher()).permissions() ==
              (fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
               fs::perms::others_read | fs::perms::others_exec));
  const RunResult shown = run_pack({"show", tree.launcher()});
  EXPECT_EQ(shown.status, 0) << shown.err;
  // The block, then the oldest glibc the launcher (in its tree) runs on.
  const std::string block = shown.out.substr(0, shown.out.find("glibc: "));
  EXPECT_THAT(shown.out.substr(block.size()),
              testing::MatchesRegex("glibc: 2\\.[0-9.]+ or later \\(.+\\)\n"));
  EXPECT_EQ(block,
            "main class:          demo.Main\n"
            "run on main thread:  no\n"
            "console app:         yes\n"
            "flags:               0x02\n"
            "stack size:          3145728 bytes (3 MiB)\n"
            "JVM options (2):\n"
            "  [0] -Xmx1g\n"
            "  [1] -Dapp.dir=&&\n"
            "arguments (1):\n"
            "  [0] --mode\n"
            "allowed user JVM options (VORLANE_JVM_OPTIONS) (1):\n"
            "  [0] -Xmx\n");
}

TEST(Pack, RefusesBadInputWithStatus2AndNoOutput) {
  AppTree tree;
  const std::string not_a_template = tree.app_dir() + "/probe.jar";
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      // Once it burned `stray` as a JVM option.
      {{"--main-class", "demo.Main", "--java-option", "-Xmx64m", "stray"}, "stray"},
      {{"--main-class", "demo.Main", "--template", not_a_template}, "is not a launcher template"},
      {{"--main-class", "demo.Main", "--template", "/no/such/template"},
       "cannot open /no/such/template"},
      {{"--java-option", "-Xmx1g"}, "--main-class is required"},
      {{"--main-class", "demo.Main", "--no-such-option"},
       "vorlane-pack: The following argument was not expected: --no-such-option"},
  };
  for (const auto& c : cases) {
    const RunResult r = tree.burn(c.args);
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_FALSE(fs::exists(tree.launcher())) << c.message;
  }
}

/// Overwrites the reserved area of the launcher at `path` with `area`.
void patch_area(const std::string& path, const std::vector<std::uint8_t>& area) {
  const auto image = read_file(path);
  ASSERT_TRUE(image) << image.error().message;
  const auto location = find_elf_section(*image, kLaunchAreaSection);
  ASSERT_TRUE(location) << location.error().message;
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(location->offset));
  file.write(reinterpret_cast<const char*>(area.data()), static_cast<std::streamsize>(area.size()));
}

TEST(Pack, LauncherRefusesABlockThatRunsPastItsArea) {
  AppTree tree;
  tree.burn_probe("args");
  // A main class with no terminating 0 anywhere in the area.
  std::vector<std::uint8_t> area(kLaunchAreaSize, 'x');
  area[0] = 0;
  patch_area(tree.launcher(), area);
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Corrupt launch data block.\n");
  EXPECT_EQ(run_pack({"show", tree.launcher()}).status, 2);
}

TEST(Template, NeedsOnlyLibcExportsNothingAndIsStripped) {
  const std::string launcher = Setup::get().template_path();
  const RunResult dynamic = run_process({"/usr/bin/readelf", "-d", launcher});
  ASSERT_EQ(dynamic.status, 0) << dynamic.err;
  std::vector<std::string> needed;
  std::string rpath;
  for (const std::string& line : lines(dynamic.out)) {
    const std::size_t open = line.find('[');
    if (open == std::string::npos) continue;
    const std::string value = line.substr(open + 1, line.rfind(']') - open - 1);
    if (line.find("(NEEDED)") != std::string::npos) needed.push_back(value);
    if (line.find("(RPATH)") != std::string::npos || line.find("(RUNPATH)") != std::string::npos)
      rpath = value;
  }
  for (const std::string& library : needed) {
    // The C library (linked against glibc 2.31, whose dlopen and threads are
    // in libdl and libpthread), and its dynamic loader for the unwinder's
    // lookups. Not libjvm.so: the launcher loads it itself, through the run
    // path below, so that a missing runtime gets the launcher's message.
    EXPECT_TRUE(library == "libc.so.6" || library == "libdl.so.2" || library == "libpthread.so.0" ||
                library.starts_with("ld-linux"))
        << library;
  }
  EXPECT_EQ(rpath, "${ORIGIN}/../lib/runtime/lib:${ORIGIN}/../lib/runtime/lib/server");

  const RunResult symbols = run_process({"/usr/bin/nm", "-D", "--defined-only", launcher});
  ASSERT_EQ(symbols.status, 0) << symbols.err;
  for (const std::string& line : lines(symbols.out)) {
    // Copy relocations of the C library's own data (stderr) are the C library's.
    EXPECT_THAT(line, HasSubstr("@GLIBC_")) << "the launcher exports " << line;
  }

  // Stripped, but for the launch area, with its debug information beside it.
  const RunResult sections = run_process({"/usr/bin/readelf", "-S", "-W", launcher});
  ASSERT_EQ(sections.status, 0) << sections.err;
  EXPECT_THAT(sections.out, Not(HasSubstr(" .debug_")));
  EXPECT_THAT(sections.out, Not(HasSubstr(" .symtab ")));
  EXPECT_THAT(sections.out, HasSubstr(" .gnu_debuglink "));
  EXPECT_THAT(sections.out, HasSubstr(std::string(" ") + kLaunchAreaSection + " "));
  EXPECT_TRUE(fs::is_regular_file(launcher + ".debug"));
}

}  // namespace
}  // namespace vorlane::e2e
