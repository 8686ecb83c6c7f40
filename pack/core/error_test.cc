#include "pack/core/error.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "pack/core/files.h"

namespace vorlane {
namespace {

TEST(Error, ContextKeepsTheKindAndTheConversionsKeepWhatIsNotTheirs) {
  Error machine = step_failed("cannot read x: Input/output error");
  machine.machine_fault = true;
  const struct {
    const char* name;
    Error in;
    ErrorKind as_input, as_step;
  } rows[] = {
      {"a path that is not there", step_failed("cannot open x"), ErrorKind::kBadInput,
       ErrorKind::kStepFailed},
      {"a disk error", machine, ErrorKind::kStepFailed, ErrorKind::kStepFailed},
      {"a refusal", bad_input("no launcher"), ErrorKind::kBadInput, ErrorKind::kStepFailed},
      {"an interruption", interruption(), ErrorKind::kInterrupted, ErrorKind::kInterrupted},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Error said = with_context("--license-file: ", row.in);
    EXPECT_EQ(said.kind, row.in.kind);
    EXPECT_EQ(said.message, "--license-file: " + row.in.message);
    EXPECT_EQ(as_input(said).kind, row.as_input);
    EXPECT_EQ(as_step(said).kind, row.as_step);
  }
}

TEST(Error, SystemFailuresOfTheMachineAreMarked) {
  const struct {
    int error;
    bool machine;
  } rows[] = {{ENOENT, false}, {EACCES, false}, {EISDIR, false}, {EIO, true},
              {ENOSPC, true},  {EDQUOT, true},  {EMFILE, true},  {ENOMEM, true}};
  for (const auto& row : rows) {
    errno = row.error;
    const Error e = system_failure("read", "/x");
    EXPECT_EQ(e.kind, ErrorKind::kStepFailed) << row.error;
    EXPECT_EQ(e.machine_fault, row.machine) << row.error;
    EXPECT_EQ(e.message.rfind("cannot read /x: ", 0), 0U) << e.message;
  }
}

}  // namespace
}  // namespace vorlane
