#include "pack/core/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>

namespace vorlane {
namespace {

using testing::EndsWith;

TEST(RunProcess, StatusAndOutput) {
  ProcessOptions separate;
  ProcessOptions merged;
  merged.merge_output = true;
  ProcessOptions env;
  env.env = {{"VORLANE_SET", "x y"}, {"HOME", std::nullopt}};
  const struct {
    const char* script;
    ProcessOptions options;
    int status;
    const char* out;
    const char* err;
  } cases[] = {
      {"echo out; echo err >&2; exit 3", separate, 3, "out\n", "err\n"},
      {"echo out; echo err >&2; echo more", merged, 0, "out\nerr\nmore\n", ""},
      {"read line || echo eof", separate, 0, "eof\n", ""},  // no input: end of file at once
      {"kill -TERM $$", separate, 128 + 15, "", ""},
      {"echo \"$VORLANE_SET|${HOME-unset}\"", env, 0, "x y|unset\n", ""},
  };
  for (const auto& c : cases) {
    const ProcessResult r = run_process({"/bin/sh", "-c", c.script}, c.options);
    EXPECT_TRUE(r.started) << c.script;
    EXPECT_EQ(r.status, c.status) << c.script;
    EXPECT_EQ(r.out, c.out) << c.script;
    EXPECT_EQ(r.err, c.err) << c.script;
    EXPECT_EQ(r.ok(), c.status == 0) << c.script;
  }
  const ProcessResult missing = run_process({"/no/such/program"});
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.describe_end(0),
            "could not be started: /no/such/program: No such file or directory");
}

TEST(RunProcess, TheTimeoutBoundsTheWholeRun) {
  ProcessOptions options;
  options.timeout_seconds = 1;
  // Once a hang: the program closed its output and slept, and the wait for
  // its exit had no bound. The background child is killed with its group.
  const ProcessResult r =
      run_process({"/bin/sh", "-c", "echo begun; sleep 1000 & exec >&- 2>&-; sleep 1000"}, options);
  EXPECT_TRUE(r.timed_out);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.status, -1);
  EXPECT_EQ(r.out, "begun\n");
  EXPECT_EQ(r.describe_end(1), "did not finish within 1 s");
}

TEST(RunProcess, EndsWhenTheProgramExitsThoughAChildHoldsItsOutput) {
  // Once the packer waited for the child's end; with no timeout, for ever.
  const ProcessResult r = run_process({"/bin/sh", "-c", "sleep 1000 & echo done"});
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.out, "done\n");
  kill(-r.pid, SIGKILL);
}

TEST(RunProcess, KeepsABoundedTailOfTheOutput) {
  ProcessOptions options;
  options.keep_bytes = 1000;
  options.merge_output = true;
  const ProcessResult r = run_process(
      {"/bin/sh", "-c", "head -c 20000000 /dev/zero | tr '\\0' x; echo; echo END"}, options);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(r.out.size(), 1000u);
  EXPECT_THAT(r.out, EndsWith("xxx\nEND\n"));
}

}  // namespace
}  // namespace vorlane
