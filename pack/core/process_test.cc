#include "pack/core/process.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

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

TEST(RunProcess, TheProgramDiesWhenThePackerIsKilled) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);  // not close-on-exec: the program writes its pid to it
  const pid_t packer = fork();
  ASSERT_GE(packer, 0);
  if (packer == 0) {
    close(pipe_fds[0]);
    const std::string script = "echo $$ >&" + std::to_string(pipe_fds[1]) + "; exec sleep 600";
    run_process({"/bin/sh", "-c", script});
    _exit(0);
  }
  close(pipe_fds[1]);
  char text[32] = {};
  const ssize_t n = read(pipe_fds[0], text, sizeof text - 1);
  close(pipe_fds[0]);
  kill(packer, SIGKILL);
  int status = 0;
  waitpid(packer, &status, 0);
  ASSERT_GT(n, 0) << "the program did not start";
  const pid_t program = std::stoi(text);
  const int exit_fd = static_cast<int>(syscall(SYS_pidfd_open, program, 0));
  ASSERT_GE(exit_fd, 0) << "the program had already gone";
  pollfd fd{exit_fd, POLLIN, 0};
  // Bounded: a program left running makes this fail after a minute, not hang.
  const int ready = poll(&fd, 1, 60'000);
  close(exit_fd);
  if (ready != 1) kill(program, SIGKILL);
  EXPECT_EQ(ready, 1) << "the program outlived the packer that ran it";
}

TEST(BackgroundProcess, GetsItsDescriptorAndIsEndedWithItsGroup) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  ProcessOptions options;
  options.inherited_fd = fds[1];
  // The group's other member holds the pipe too: the read end sees its end
  // only once the whole group has gone.
  const std::string script = "echo up >&" + std::to_string(fds[1]) + "; sleep 600 & wait";
  Result<BackgroundProcess> server = BackgroundProcess::start({"/bin/sh", "-c", script}, options);
  close(fds[1]);
  ASSERT_TRUE(server) << server.error().message;
  const pid_t pid = server->pid();
  std::string said;
  char c = 0;
  pollfd readable{fds[0], POLLIN, 0};
  while (poll(&readable, 1, 60'000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') said += c;
  EXPECT_EQ(said, "up");
  server->stop();
  EXPECT_EQ(server->pid(), -1);
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);  // already reaped
  EXPECT_EQ(poll(&readable, 1, 60'000), 1);
  EXPECT_EQ(read(fds[0], &c, 1), 0) << "a member of its group outlived it";
  close(fds[0]);

  const Result<BackgroundProcess> missing = BackgroundProcess::start({"/nonexistent/Xvfb"});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message, "/nonexistent/Xvfb: No such file or directory");
}

// A program the caller talks to while it runs: what it prints comes on the
// caller's pipe, and its end, by itself or by a signal, is told as run_process tells it.
TEST(BackgroundProcess, PrintsToTheCallersPipeAndEndsWithItsStatus) {
  const struct {
    std::string script;
    int status;
  } cases[] = {
      {"echo up; exit 0", 0},
      {"echo up; exit 3", 3},
      {"echo up; kill -TERM $$", 128 + SIGTERM},
  };
  for (const auto& c : cases) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    Result<BackgroundProcess> program =
        BackgroundProcess::start({"/bin/sh", "-c", c.script}, {}, fds[1]);
    close(fds[1]);
    ASSERT_TRUE(program) << program.error().message;
    std::string said;
    char byte = 0;
    pollfd readable{fds[0], POLLIN, 0};
    while (poll(&readable, 1, 60'000) == 1 && read(fds[0], &byte, 1) == 1) said += byte;
    close(fds[0]);
    EXPECT_EQ(said, "up\n") << c.script;
    EXPECT_EQ(program->wait(60), c.status) << c.script;
    EXPECT_EQ(program->pid(), -1);
    EXPECT_EQ(program->wait(60), -1);  // nothing left to wait for
  }
  // One that does not end keeps running when the wait gives up, until stopped.
  Result<BackgroundProcess> sleeper = BackgroundProcess::start({"/bin/sleep", "600"});
  ASSERT_TRUE(sleeper) << sleeper.error().message;
  EXPECT_EQ(sleeper->wait(0), -1);
  EXPECT_GT(sleeper->pid(), 0);
  sleeper->stop();
  EXPECT_EQ(sleeper->pid(), -1);
}

}  // namespace
}  // namespace vorlane
