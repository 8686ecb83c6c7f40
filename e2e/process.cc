#include "e2e/process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>

extern char** environ;

namespace vorlane::e2e {

RunResult run_process(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result = vorlane::run_process(argv, options);
  if (!result.started) result.err = "spawn failed: " + result.error;
  return result;
}

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point bound() { return Clock::now() + std::chrono::seconds(kChildBoundSeconds); }

/// Milliseconds to `deadline`, at least 0.
int left_ms(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

Child::Child(std::vector<std::string> argv, const Options& options) {
  std::vector<std::string> vars;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string var = *e;
    if (!options.env.contains(var.substr(0, var.find('=')))) vars.push_back(var);
  }
  for (const auto& [name, value] : options.env) {
    if (!value.empty()) vars.push_back(name + "=" + value);
  }
  std::vector<char*> args, envp;
  for (std::string& a : argv) args.push_back(a.data());
  for (std::string& v : vars) envp.push_back(v.data());
  args.push_back(nullptr);
  envp.push_back(nullptr);

  int in[2] = {-1, -1}, out[2] = {-1, -1};
  if ((options.input && pipe2(in, O_CLOEXEC) != 0) || pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.input) {
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (options.merge_err) {
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  } else if (!options.err_file.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, options.err_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  const int error = posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(error, 0) << argv[0] << ": " << std::strerror(error);
  if (error != 0) pid_ = -1;
  if (options.input) close(in[0]);
  close(out[1]);
  in_ = in[1];
  out_ = out[0];
}

Child::~Child() {
  if (in_ >= 0) close(in_);
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    kill(pid_, SIGCONT);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

void Child::send(const std::string& line) {
  const std::string text = line + "\n";
  ASSERT_EQ(write(in_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

int Child::read_some(Clock::time_point deadline) {
  pollfd p = {out_, POLLIN, 0};
  if (poll(&p, 1, left_ms(deadline)) <= 0) return -1;
  char chunk[65536];
  const ssize_t n = read(out_, chunk, sizeof chunk);
  if (n <= 0) return 0;
  output_.append(chunk, static_cast<std::size_t>(n));
  return 1;
}

std::string Child::read_line() {
  const auto deadline = bound();
  for (;;) {
    if (const std::size_t nl = output_.find('\n', read_to_); nl != std::string::npos) {
      std::string line = output_.substr(read_to_, nl - read_to_);
      read_to_ = nl + 1;
      return line;
    }
    if (const int got = read_some(deadline); got <= 0) return got == 0 ? "(ended)" : "(no answer)";
  }
}

bool Child::wait_for(const std::string& text) {
  const auto deadline = bound();
  for (;;) {
    const std::size_t at = output_.find(text);
    if (at != std::string::npos && output_.find('\n', at) != std::string::npos) return true;
    if (read_some(deadline) <= 0) return false;
  }
}

int Child::wait_exit() {
  const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  if (pidfd < 0) return -1;
  // Reading meanwhile, so that it never blocks on a full pipe.
  const auto deadline = bound();
  bool open = true;
  for (;;) {
    pollfd p[2] = {{pidfd, POLLIN, 0}, {open ? out_ : -1, POLLIN, 0}};
    if (poll(p, 2, left_ms(deadline)) <= 0) {
      close(pidfd);
      return -1;
    }
    if (p[0].revents != 0) break;
    if (p[1].revents != 0) open = read_some(deadline) > 0;
  }
  close(pidfd);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  // Whatever it wrote before it ended; a child holding the pipe keeps no one waiting.
  while (read_some(Clock::now()) > 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Child::finish() {
  if (in_ >= 0) close(in_);
  in_ = -1;
  return wait_exit();
}

Xvfb::Xvfb() {
  int fds[2];
  if (pipe(fds) != 0) return;
  fcntl(fds[0], F_SETFD, FD_CLOEXEC);  // only the write end goes to Xvfb
  // -noreset: the root window's resources (Xft.dpi) stay when the last
  // client goes.
  server_.emplace(std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen",
                                           "0", "640x480x24", "-nolisten", "tcp", "-noreset"},
                  Child::Options{});
  close(fds[1]);
  // Xvfb writes the number once it accepts clients, then closes nothing:
  // read up to the newline.
  std::string number;
  char c = 0;
  pollfd p = {fds[0], POLLIN, 0};
  while (poll(&p, 1, kChildBoundSeconds * 1000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') {
    number += c;
  }
  close(fds[0]);
  if (server_->started() && !number.empty()) name_ = ":" + number;
}

}  // namespace vorlane::e2e
