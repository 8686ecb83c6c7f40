// The user's options file, $XDG_CONFIG_HOME/NAME/jvm-options, against the
// real JVM: what it adds, what it leaves out and says so, and its place
// before VORLANE_JVM_OPTIONS.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "e2e/app_tree.h"

namespace fs = std::filesystem;

namespace vorlane::e2e {
namespace {

using testing::HasSubstr;

TEST(OptionsFile, AddsWhatIsAllowedAndNotesTheRest) {
  AppTree tree;
  tree.burn_probe("prop:x", {"--allow-java-option", "-Dx="});
  const std::string dir = tree.temp_root() + "/config/probe-app";
  const std::string file = dir + "/jvm-options";
  const std::string log = tree.temp_root() + "/state/probe-app/launcher.log";
  fs::create_directories(dir);
  const struct {
    std::optional<std::string> text;  ///< nullopt: no file
    std::string variable;
    std::string x;     ///< the property the app sees
    std::string note;  ///< on standard error and in the log; "" for none
  } rows[] = {
      {std::nullopt, "", "(null)", ""},
      {"# mine\n-Dx=from file\n", "", "from file", ""},
      {"-Dx=from file\n", "-Dx=var", "var", ""},  // the variable wins
      {"-Dx=1\n-Dy=2\n", "", "1",
       file + " line 2: JVM option -Dy=2 is not allowed for this app; left out.\n"},
      {"-Dx=1\n" + std::string(70000, '#'), "", "(null)",
       file + " is larger than 64 KiB; its JVM options are left out.\n"},
      {std::string("-Dx=1\n\0\x7f", 8), "", "(null)",
       file + " is not text; its JVM options are left out.\n"},
  };
  for (const auto& row : rows) {
    fs::remove(file);
    fs::remove(log);
    if (row.text) std::ofstream(file, std::ios::binary) << *row.text;
    RunOptions options;
    options.env["VORLANE_JVM_OPTIONS"] = row.variable;
    const RunResult r = tree.run({}, options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "prop x=" + row.x + "\n");
    EXPECT_EQ(r.err, row.note);
    if (!row.note.empty()) {
      EXPECT_THAT(read_text(log), HasSubstr(row.note));
    }
  }
}

TEST(OptionsFile, JavaApiWritesWhatTheNextStartTakes) {
  AppTree tree;
  tree.burn_probe("jvm-options:-Dx=from api,prop:x", {"--allow-java-option", "-Dx="});
  const std::string file = tree.temp_root() + "/config/probe-app/jvm-options";
  RunResult r = tree.run();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "allowed [-Dx=]\nwrote " + file + "\nprop x=(null)\n");
  r = tree.run();
  EXPECT_THAT(r.out, testing::EndsWith("prop x=from api\n"));
  // An option the launch data does not allow is refused, the file kept.
  tree.burn_probe("jvm-options:-Dy=1", {"--allow-java-option", "-Dx="});
  r = tree.run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err,
              HasSubstr("IllegalArgumentException: JVM option not allowed for this app: -Dy=1"));
  EXPECT_THAT(read_text(file), HasSubstr("\n-Dx=from api\n"));
}

}  // namespace
}  // namespace vorlane::e2e
