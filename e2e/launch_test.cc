// The spine of a launch, end to end: arguments, threads, exit statuses,
// exception reports and the JVM hand-off.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "e2e/app_tree.h"

namespace vorlane::e2e {
namespace {

using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

TEST(Launch, MainGetsItsClassAndArgumentsAfterTheDefaultOnesInOrder) {
  const struct {
    std::vector<std::string> burn;
    std::optional<std::string> argv0;
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"--argument", "a", "--argument", "b"},
       {},
       {"x", "y z", "", "-Dnot.an.option=1"},
       "argc 6\narg 0: a\narg 1: b\narg 2: x\narg 3: y z\narg 4: \narg 5: -Dnot.an.option=1\n"},
      {{}, {}, {}, "argc 0\n"},
      {{"--argument", "a"}, "", {}, "argc 1\narg 0: a\n"},  // an empty argv[0]
      // The class name reaches Java through the same conversion as arguments.
      {{"--main-class", "probe.Probe$Gr\xC3\xBC\xC3\x9F\x65"},
       {},
       {},
       "main of Gr\\u00fc\\u00dfe\n"},
  };
  for (const auto& c : cases) {
    AppTree tree;
    tree.burn_probe("args", c.burn);
    RunOptions options;
    options.argv0 = c.argv0;
    const RunResult r = tree.run(c.args, options);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
  }
}

TEST(Launch, MainRunsOnAThreadWithTheBlocksStackAndNoGuard) {
  const struct {
    std::vector<std::string> options;
    std::string expected;
  } cases[] = {
      {{}, "stack=2097152 guard=0 initial=no"},
      {{"--stack-size", "4m"}, "stack=4194304 guard=0 initial=no"},
      {{"--run-on-main-thread", "--stack-size", "1m"}, "initial=yes"},
  };
  for (const auto& c : cases) {
    AppTree tree;
    tree.burn_probe("native", c.options);
    const RunResult r = tree.run();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr(c.expected + "\n"));
  }
}

TEST(Launch, NonDaemonThreadsAreAwaitedAndHooksRun) {
  AppTree tree;
  tree.burn_probe("hook,thread");
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "main done\nthread done\nhook ran\n");
}

TEST(Launch, UncaughtExceptionIsReportedWithAnAlert) {
  AppTree tree;
  tree.burn_probe("throw");
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 1);
  const std::vector<std::string> err = lines(r.err);
  ASSERT_GE(err.size(), 4u) << r.err;
  EXPECT_EQ(err[0], "java.lang.IllegalStateException: probe failure");
  EXPECT_THAT(err[1], StartsWith("\tat probe.Probe.run("));
  EXPECT_EQ(err[err.size() - 2],
            "Error: The application has experienced an internal error and must quit.");
  EXPECT_EQ(
      err.back(),
      "java.lang.IllegalStateException: probe failure (caused by java.io.IOException: disk gone)");
  EXPECT_THAT(r.err, Not(HasSubstr("Exception in thread")));
}

TEST(Launch, UncaughtExceptionInAConsoleAppPrintsOnlyTheTraceAndRunsHooks) {
  AppTree tree;
  tree.burn_probe("hook,thread,throw", {"--console"});
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, StartsWith("java.lang.IllegalStateException: probe failure\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("Error: The application")));
  EXPECT_THAT(lines(r.err).back(), StartsWith("\t"));
  // The report does not wait for the worker, which never ends, but the hook runs.
  EXPECT_EQ(r.out, "main done\nhook ran\n");
}

TEST(Launch, JvmThatCannotBeCreated) {
  const struct {
    const char* option;
    const char* message;
  } cases[] = {
      {"-Xfoo", "Failed to create JVM: Error 0xffffffff\n"},
      {"-XX:+NoSuchFlag", "Failed to create JVM: Error 0xfffffffa\n"},
  };
  for (const auto& c : cases) {
    AppTree tree;
    tree.burn_probe("args", {"--java-option", c.option});
    const RunResult r = tree.run();
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(r.err, testing::EndsWith(c.message));
    EXPECT_THAT(r.out, Not(HasSubstr("argc")));
  }
}

TEST(Launch, UpdaterNativeIsBoundWhereTheAppShipsTheUpdater) {
  AppTree tree;
  tree.burn_probe("updater");
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "updater ok\n");
  EXPECT_EQ(r.err, "");

  AppTree without;
  const std::string class_path = without.app_dir() + "/probe.jar:" + Setup::get().launcher_only_jar;
  const RunResult burned = without.burn(
      {"--main-class", "probe.Probe", "--java-option", "-Djava.class.path=" + class_path});
  ASSERT_EQ(burned.status, 0) << burned.err;
  const RunResult started = without.run({"x"});
  EXPECT_EQ(started.status, 0) << started.err;
  EXPECT_EQ(started.out, "argc 1\narg 0: x\n");
  EXPECT_EQ(started.err, "");
}

}  // namespace
}  // namespace vorlane::e2e
