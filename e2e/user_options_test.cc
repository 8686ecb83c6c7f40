// The command record, VORLANE_JVM_OPTIONS and the Java option variables, end to end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e/app_tree.h"

namespace vorlane::e2e {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

const std::vector<std::string> kShippedAllowList = {
    "--allow-java-option", "-Xmx",           "--allow-java-option", "-Xms",
    "--allow-java-option", "-Xss",           "--allow-java-option", "-Xlog",
    "--allow-java-option", "-XshowSettings", "--allow-java-option", "-ea",
    "--allow-java-option", "-esa",           "--allow-java-option", "-da",
    "--allow-java-option", "-dsa",           "--allow-java-option", "-Duser.home="};

RunOptions with_user_options(const std::string& value) {
  RunOptions options;
  options.env["VORLANE_JVM_OPTIONS"] = value;
  return options;
}

/// The JVM's input arguments after the ones every probe tree burns in.
std::vector<std::string> jvm_args_after_probe_options(const std::string& out) {
  std::vector<std::string> args;
  for (const std::string& line : lines(out)) {
    if (!line.starts_with("jvm arg: ")) continue;
    const std::string arg = line.substr(9);
    if (arg.starts_with("-Djava.class.path=") || arg.starts_with("-Dprobe.")) continue;
    args.push_back(arg);
  }
  return args;
}

TEST(UserOptions, JvmSeesBlockOptionsThenCommandRecordThenUserOptions) {
  AppTree tree;
  tree.burn_probe("input-args,prop:sun.java.command",
                  joined({"--java-option", "-Dfrom.block=1", "--argument", "--mode",
                          "--allow-java-option", "-Dx="},
                         kShippedAllowList));
  const RunResult r =
      tree.run({"x y", ""}, with_user_options(" -Xmx2g\t'-Dx=a b'  -Xlog:disable "));
  EXPECT_EQ(r.status, 0) << r.err;
  // The JVM leaves the command record out of its input arguments.
  EXPECT_THAT(jvm_args_after_probe_options(r.out),
              ElementsAre("-Dfrom.block=1", "-Xmx2g", "-Dx=a b", "-Xlog:disable",
                          testing::StartsWith("-XX:ErrorFile=")));
  EXPECT_THAT(r.out, HasSubstr("prop sun.java.command=probe.Probe --mode x y \n"));
  EXPECT_EQ(r.err, "");
}

TEST(UserOptions, FailuresAreReportedBeforeTheJvmStarts) {
  const struct {
    bool console;
    std::string value;
    std::string err;
  } cases[] = {
      {false, "-Xmx2g -XX:+UseZGC",
       "Error: Invalid JVM option\nDisallowed JVM option in VORLANE_JVM_OPTIONS: -XX:+UseZGC\n"},
      // Printed as text, never used as a format.
      {true, "'-Dp=%s%n'", "Disallowed JVM option in VORLANE_JVM_OPTIONS: -Dp=%s%n\n"},
      // Splitting comes first: an open quote wins over a disallowed option.
      {false, "-XX:+UseZGC '-Xmx1g", "Unterminated quote in VORLANE_JVM_OPTIONS.\n"},
      // White space alone is a value, and this app allows none.
      {true, "  ", "VORLANE_JVM_OPTIONS is not enabled for this app.\n"},
      // The launcher's check comes before the JVM's own parsing, which would
      // otherwise print and exit by itself for these.
      {true, "-Xmx1m", ""},
  };
  for (const auto& c : cases) {
    AppTree tree;
    std::vector<std::string> burn =
        c.value == "  " ? std::vector<std::string>() : kShippedAllowList;
    if (c.console) burn.emplace_back("--console");
    tree.burn_probe("args", burn);
    const RunResult r = tree.run({}, with_user_options(c.value));
    SCOPED_TRACE(c.value);
    EXPECT_EQ(r.status, 1);
    if (c.err.empty()) {
      // An allowed option the JVM itself rejects: the JVM's own report.
      EXPECT_THAT(r.out + r.err, HasSubstr("Error occurred during initialization of VM"));
      continue;
    }
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
}

TEST(UserOptions, JavaOptionVariablesReachNeitherTheJvmNorTheApp) {
  // The JVM's environment, which its child processes get too, lacks them.
  AppTree tree;
  tree.burn_probe(
      "input-args,env:_JAVA_OPTIONS,env:JDK_JAVA_OPTIONS,env:JAVA_TOOL_OPTIONS,"
      "env:VORLANE_JVM_OPTIONS",
      kShippedAllowList);
  RunOptions options = with_user_options("-Xms64m");
  options.env["_JAVA_OPTIONS"] = "-Dfrom.underscore=1";
  options.env["JDK_JAVA_OPTIONS"] = "-Dfrom.jdk=1";
  options.env["JAVA_TOOL_OPTIONS"] = "-Dfrom.tool=1";
  const RunResult r = tree.run({}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // no "Picked up ..." line
  EXPECT_THAT(r.out, testing::Not(HasSubstr("-Dfrom.")));
  EXPECT_THAT(r.out, HasSubstr("env _JAVA_OPTIONS=(null)\nenv JDK_JAVA_OPTIONS=(null)\n"
                               "env JAVA_TOOL_OPTIONS=(null)\nenv VORLANE_JVM_OPTIONS=-Xms64m\n"));
}

}  // namespace
}  // namespace vorlane::e2e
