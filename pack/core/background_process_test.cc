#include "pack/core/background_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

namespace vorlane {
namespace {

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
