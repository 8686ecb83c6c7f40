// The spine of a launch, end to end: arguments, threads, exit statuses,
// exception reports and the JVM hand-off.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e/app_tree.h"

namespace vorlane::e2e {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

TEST(Launch, ArgumentsReachMainAfterTheDefaultOnesInOrder) {
  AppTree tree;
  tree.burn_probe("args", {"--argument", "a", "--argument", "b"});
  const RunResult r = tree.run({"x", "y z", "", "-Dnot.an.option=1"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(lines(r.out), ElementsAre("argc 6", "arg 0: a", "arg 1: b", "arg 2: x", "arg 3: y z",
                                        "arg 4: ", "arg 5: -Dnot.an.option=1"));
  EXPECT_EQ(r.err, "");
}

TEST(Launch, NoArgumentsGiveAnEmptyArray) {
  AppTree tree;
  tree.burn_probe("args");
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "argc 0\n");
}

TEST(Launch, AnEmptyArgumentVectorPassesOnlyTheDefaultArguments) {
  AppTree tree;
  tree.burn_probe("args", {"--argument", "a"});
  RunOptions options;
  options.argv0 = "";
  const RunResult r = tree.run({}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "argc 1\narg 0: a\n");
}

TEST(Launch, ArgumentsArriveWholeWhateverTheirBytes) {
  AppTree tree;
  tree.burn_probe("args", {"--argument", "caf\xC3\xA9 \xF0\x9F\x98\x80"});
  // Adjacent literals end a hex escape ("A\x80" "B"), not a missing comma.
  // clang-format off
  // NOLINTBEGIN(bugprone-suspicious-missing-comma)
  const RunResult r = tree.run({
      "\xF0\x9F\x98\x80.txt",   // 4-byte UTF-8: a surrogate pair, nothing after it lost
      "A\x80" "B",              // stray continuation byte
      "A\xFF" "B",              // never valid in UTF-8
      "\xE2\x82\xAC" "100",     // 3-byte UTF-8
      "\xC3",                   // truncated at the end
  });
  // NOLINTEND(bugprone-suspicious-missing-comma)
  // clang-format on
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(lines(r.out), ElementsAre("argc 6", "arg 0: caf\\u00e9 \\ud83d\\ude00",
                                        "arg 1: \\ud83d\\ude00.txt", "arg 2: A\\ufffdB",
                                        "arg 3: A\\ufffdB", "arg 4: \\u20ac100", "arg 5: \\ufffd"));
}

TEST(Launch, MainClassWithANonAsciiNameIsFound) {
  // The class name reaches Java through the same conversion as arguments.
  AppTree tree;
  tree.burn_probe("args", {"--main-class", "probe.Probe$Gr\xC3\xBC\xC3\x9F\x65"});
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "main of Gr\\u00fc\\u00dfe\n");
}

TEST(Launch, LauncherThreadHasTheBlocksStackAndNoGuard) {
  const struct {
    std::vector<std::string> options;
    std::string expected;
  } cases[] = {
      {{}, "thread stack=2097152 guard=0 initial=no"},
      {{"--stack-size", "4m"}, "thread stack=4194304 guard=0 initial=no"},
      {{"--stack-size", "1048576"}, "thread stack=1048576 guard=0 initial=no"},
  };
  for (const auto& c : cases) {
    AppTree tree;
    tree.burn_probe("native", c.options);
    const RunResult r = tree.run();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.expected + "\n");
  }
}

TEST(Launch, RunOnMainThreadCreatesNoThread) {
  AppTree tree;
  tree.burn_probe("native", {"--run-on-main-thread", "--stack-size", "1m"});
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("initial=yes"));
}

TEST(Launch, ExitStatusOfSystemExitPassesThrough) {
  AppTree tree;
  tree.burn_probe("exit:7");
  EXPECT_EQ(tree.run().status, 7);
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

TEST(Launch, UncaughtExceptionInAConsoleAppPrintsOnlyTheTrace) {
  AppTree tree;
  tree.burn_probe("throw", {"--console"});
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, StartsWith("java.lang.IllegalStateException: probe failure\n"));
  EXPECT_THAT(r.err, Not(HasSubstr("Error: The application")));
  EXPECT_THAT(lines(r.err).back(), StartsWith("\t"));
}

TEST(Launch, ShutdownHooksRunAfterAnUncaughtException) {
  AppTree tree;
  tree.burn_probe("hook,thread,throw", {"--console"});
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 1);
  // The report does not wait for the worker thread, but the hook runs.
  EXPECT_EQ(r.out, "main done\nhook ran\n");
}

TEST(Launch, MissingMainClassEndsWithTheJvmsDescription) {
  AppTree tree;
  tree.burn_probe("args", {"--main-class", "probe.NoSuchClass"});
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("java.lang.ClassNotFoundException: Main class probe.NoSuchClass was "
                               "not found on the class path"));
  EXPECT_THAT(r.err, Not(HasSubstr("Error: The application")));
}

TEST(Launch, MainClassWithoutMainMethod) {
  AppTree tree;
  tree.burn_probe("args", {"--main-class", "kelderan.vorlane.updater.OnlineUpdater"});
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("java.lang.NoSuchMethodException: Main class "
                               "kelderan.vorlane.updater.OnlineUpdater has no method public static "
                               "void main(String[] args)"));
}

TEST(Launch, MissingLauncherClass) {
  AppTree tree;
  const RunResult burned = tree.burn({"--main-class", "probe.Probe", "--java-option",
                                      "-Djava.class.path=" + tree.app_dir() + "/probe.jar"});
  ASSERT_EQ(burned.status, 0) << burned.err;
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err,
              HasSubstr("java.lang.NoClassDefFoundError: kelderan/vorlane/launcher/Launcher"));
  EXPECT_THAT(r.err, Not(HasSubstr("Error: The application")));
  EXPECT_EQ(r.out, "");
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
    EXPECT_EQ(r.out.find("argc"), std::string::npos);
  }
}

TEST(Launch, UpdaterNativeIsBoundAndCallable) {
  AppTree tree;
  tree.burn_probe("updater");
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "updater ok\n");
  EXPECT_EQ(r.err, "");
}

TEST(Launch, AppWithoutTheUpdaterClassStarts) {
  AppTree tree;
  const std::string class_path = tree.app_dir() + "/probe.jar:" + Setup::get().launcher_only_jar;
  const RunResult burned = tree.burn(
      {"--main-class", "probe.Probe", "--java-option", "-Djava.class.path=" + class_path});
  ASSERT_EQ(burned.status, 0) << burned.err;
  const RunResult r = tree.run({"x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "argc 1\narg 0: x\n");
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace vorlane::e2e
