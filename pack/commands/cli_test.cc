#include "pack/commands/cli.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "pack/core/report.h"
#include "pack/image/app_tree.h"
#include "pack/image/marker.h"
#include "testing/scoped_temp_dir.h"

namespace vorlane {
namespace {

struct Outcome {
  int status;
  std::string err;
};

Outcome run(const std::vector<std::string>& args) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = run_command_line(args);
  (void)testing::internal::GetCapturedStdout();
  return {status, testing::internal::GetCapturedStderr()};
}

// Each refusal ends with status 2 and a line that says what was wrong, before
// anything is read or made: none of these needs a JDK, a tool or the network.
TEST(CommandLine, RefusalsEndWithStatus2AndSayWhy) {
  const ScopedTempDir temp;
  const std::string& t = temp.path();
  std::ofstream(t + "/nul-args") << std::string("burn\0x", 6);
  std::ofstream(t + "/not-a-launcher") << "text";
  const std::string o = t + "/out";
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{}, "vorlane-pack: A subcommand is required"},
      {{"frobnicate", "--name", "x"},
       "'frobnicate' is not a command; the commands are app, cds, package, publish, burn, show"},
      {{"@" + t + "/missing"}, t + "/missing"},
      {{"@" + t + "/nul-args"}, "argument file " + t + "/nul-args holds a 0 byte"},
      {{"burn", "--output", o}, "--main-class is required"},
      {{"burn", "--output", o, "--main-class", "a.B", "--argument"}, "--argument needs a value"},
      {{"burn", "--output", o, "--main-class", "a.B", "--stack-size", "2q"},
       "stack size '2q' is not a size such as 2097152, 2048k or 2m"},
      {{"burn", "--output", o, "--main-class", "a.B", "--template", t + "/missing"},
       t + "/missing"},
      // The options whose value is any text belong to app and burn only.
      {{"show", "--java-option", "-Xmx1g", o}, "--java-option does not apply to show"},
      {{"cds", t, "--allow-java-option", "-D"}, "--allow-java-option does not apply to cds"},
      {{"show", t + "/not-a-launcher"}, "not-a-launcher"},
      {{"show", t + "/missing"}, t + "/missing"},
      {{"app", "--name", "n", "--input", t, "--main-class", "a.B", "--dest", t, "--splash", ""},
       "--splash takes an image file, not an empty name"},
      {{"cds", t, "--training-timeout", "soon"}, "--training-timeout"},
      {{"cds", t}, t},  // no tree of the packer's
      {{"package", t, "--dest", o}, "--type is required"},
      {{"package", t, "--type", "deb", "--dest", o, "--compression", "best"},
       "--compression: best not in {small,fast}"},
      {{"publish", t + "/site", "--signing-key", "k", "--new-key", t + "/keys"},
       "give --signing-key or --new-key, not both"},
      {{"publish", t + "/site", "--feed-key", "f", "--new-key", t + "/keys"},
       "give --feed-key or --new-key (which makes one), not both"},
      {{"publish", t + "/site", "--signing-key", "k", "--notes", "n"},
       "--notes are the update feed's: give --feed-key FILE too"},
      {{"publish", t + "/site", "--signing-key", "k", "--feed-valid-days", "9"},
       "--feed-valid-days is the update feed's: give --feed-key FILE too"},
      {{"publish", t + "/site", t + "/a.deb"}, "a site is signed: give --signing-key FILE"},
  };
  for (const auto& c : cases) {
    const std::string line = testing::PrintToString(c.args);
    const Outcome outcome = run(c.args);
    EXPECT_EQ(outcome.status, 2) << line << "\n" << outcome.err;
    EXPECT_NE(outcome.err.find(c.says), std::string::npos) << line << "\n" << outcome.err;
    EXPECT_TRUE(outcome.err.starts_with("vorlane-pack: ")) << line << "\n" << outcome.err;
    // A refusal made nothing.
    EXPECT_FALSE(std::filesystem::exists(o)) << line;
    EXPECT_FALSE(std::filesystem::exists(t + "/site")) << line;
    EXPECT_FALSE(std::filesystem::exists(t + "/keys")) << line;
  }
}

TEST(CommandLine, HelpAndVersionEndWith0) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"--version"}, {"app", "--help"}, {"publish", "-h"}}) {
    EXPECT_EQ(run(args).status, 0) << testing::PrintToString(args);
  }
}

// `cds` checks its options and the tree's launcher before any run: a tree
// whose launcher is missing or no launcher is the user's fault, not a step's.
TEST(CommandLine, CdsRefusesBadOptionsAndTreesBeforeAnyRun) {
  const ScopedTempDir temp;
  const std::string tree = temp.path() + "/app";
  std::filesystem::create_directories(tree + "/bin");
  std::filesystem::create_directories(tree + "/lib");
  ASSERT_TRUE(write_marker(tree + "/lib/" + kMarkerName, {"app", {}, {}, std::nullopt}));
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"cds", tree, "--training-timeout", "0"},
       "--training-timeout must be a number of seconds above 0"},
      {{"cds", tree, "--", "a\nb"}, "a training argument holds a line break"},
      {{"cds", tree}, tree + "/bin/app"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = run(c.args);
    EXPECT_EQ(outcome.status, 2) << testing::PrintToString(c.args) << "\n" << outcome.err;
    EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
  }
  std::ofstream(tree + "/bin/app") << "not a launcher";
  EXPECT_EQ(run({"cds", tree}).status, 2);
}

// Every command ends through Report::fail: the error's kind alone sets the
// status, and the message goes out whole, with the tool's name in front.
TEST(Report, FailSetsTheStatusOfTheErrorsKind) {
  Error machine = step_failed("disk full");
  machine.machine_fault = true;
  const struct {
    Error error;
    int status;
  } cases[] = {
      {bad_input("no"), 2},
      {step_failed("jlink ended"), 1},
      {interruption(), 130},
      {as_input(step_failed("cannot read x")), 2},
      {as_input(machine), 1},
      {as_input(interruption()), 130},
      {as_step(bad_input("our own file is bad")), 1},
      {as_step(interruption()), 130},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Report(true).fail(c.error), c.status) << c.error.message;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "vorlane-pack: " + c.error.message + "\n");
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(Report(true).stop("nothing was changed"), 130);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "vorlane-pack: interrupted; nothing was changed\n");
}

}  // namespace
}  // namespace vorlane
