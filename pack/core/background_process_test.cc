#include "pack/core/background_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace
}  // namespace vorlane
