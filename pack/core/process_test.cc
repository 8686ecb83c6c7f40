#include "pack/core/process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>

namespace vorlane {
namespace {

using testing::HasSubstr;

TEST(RunCommand, StatusAndOutputOfBothStreams) {
  const struct {
    const char* script;
    int status;
    const char* output;
  } cases[] = {
      {"echo out; echo err >&2; exit 3", 3, "out\nerr\n"},
      {"exit 0", 0, ""},
      {"read line || echo eof", 0, "eof\n"},  // no input: end of file at once
      {"kill -TERM $$", 128 + 15, ""},
  };
  for (const auto& c : cases) {
    const CommandResult r = run_command({"/bin/sh", "-c", c.script});
    EXPECT_TRUE(r.started) << c.script;
    EXPECT_EQ(r.status, c.status) << c.script;
    EXPECT_EQ(r.output, c.output) << c.script;
    EXPECT_EQ(r.ok(), c.status == 0) << c.script;
  }
}

TEST(RunCommand, AProgramThatIsNotThere) {
  const CommandResult r = run_command({"/no/such/program"});
  EXPECT_FALSE(r.started);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.describe_end(0), "could not be started: /no/such/program: No such file or directory");
}

TEST(RunCommand, TimeoutEndsTheProgramAndItsChildren) {
  CommandOptions options;
  options.timeout_seconds = 1;
  const auto started = std::chrono::steady_clock::now();
  // The background child holds the output pipe open: it must be killed too.
  const CommandResult r =
      run_command({"/bin/sh", "-c", "echo begun; sleep 30 & sleep 30"}, options);
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_TRUE(r.timed_out);
  EXPECT_FALSE(r.ok());
  EXPECT_EQ(r.output, "begun\n");
  EXPECT_LT(took, std::chrono::seconds(10));
  EXPECT_EQ(r.describe_end(1), "did not finish within 1 s");
}

}  // namespace
}  // namespace vorlane
