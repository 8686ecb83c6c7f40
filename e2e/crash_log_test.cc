// Where a crashing JVM leaves its crash log: the app's state folder, not the
// working folder, unless an option chose a place.

#include <gtest/gtest.h>

#include <filesystem>

#include "e2e/app_tree.h"

namespace fs = std::filesystem;

namespace vorlane::e2e {
namespace {

TEST(CrashLog, GoesToTheStateFolderUnlessAnOptionChoseAPlace) {
  AppTree tree;
  tree.burn_probe("crash", {"--allow-java-option", "-XX:ErrorFile="});
  const std::string work = tree.temp_root() + "/work";
  const std::string state = tree.temp_root() + "/state";
  const std::string own = tree.temp_root() + "/own";
  for (const std::string& dir : {work, own}) fs::create_directories(dir);
  const struct {
    std::string user_options;
    std::string where;  ///< the folder that gets the crash log
  } rows[] = {
      {"", state + "/probe-app"},
      {"-XX:ErrorFile=" + own + "/crash-%p.log", own},
  };
  for (const auto& row : rows) {
    fs::remove_all(state);
    RunOptions options;
    options.working_directory = work;
    options.env = {{"XDG_STATE_HOME", state}, {"VORLANE_JVM_OPTIONS", row.user_options}};
    const RunResult r = tree.run({}, options);
    EXPECT_EQ(r.status, 134) << r.err;  // the JVM aborts after writing the log
    const std::vector<std::string> logs = entries(row.where);
    ASSERT_EQ(logs.size(), 1U) << row.where;
    EXPECT_NE(read_text(row.where + "/" + logs[0]).find("SIGSEGV"), std::string::npos);
    EXPECT_EQ(entries(work), std::vector<std::string>{}) << row.where;
    // The state folder is made only for a crash log of its own.
    EXPECT_EQ(fs::exists(state), row.where != own);
    fs::remove_all(own + "/" + logs[0]);
  }
}

}  // namespace
}  // namespace vorlane::e2e
