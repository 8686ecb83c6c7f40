// Measures a single-instance app's second launch against a fresh start of
// the same app through the launcher, in one run:
//
//   single_instance_bench JAVA_HOME [RUNS]
//
// (a) a fresh start: the launcher with "--once", which becomes the primary,
//     registers its handler and ends (wall time to exit);
// (b) from a second launch's start to the running app's handler receiving
//     its arguments (the handler's System.nanoTime, the same monotonic clock);
// (c) from a second launch's start to its exit.
// Prints the medians of RUNS (default 21) and b/a, c/a.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "pack/core/background_process.h"
#include "pack/core/process.h"
#include "testing/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace {

using namespace vorlane;

std::int64_t now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

double median_ms(std::vector<std::int64_t> ns) {
  std::sort(ns.begin(), ns.end());
  return static_cast<double>(ns[ns.size() / 2]) / 1e6;
}

/// Runs `argv` to its end, its standard output discarded; whether it exited with 0.
bool ran(const std::vector<std::string>& argv) {
  ProcessOptions options;
  options.discarded_streams = {1};
  options.timeout_seconds = 60;
  return run_process(argv, options).ok();
}

/// The next line from `fd`, waiting at most 60 s; "" at its end or then.
std::string read_line(int fd, std::string& pending) {
  for (;;) {
    if (const std::size_t nl = pending.find('\n'); nl != std::string::npos) {
      std::string line = pending.substr(0, nl);
      pending.erase(0, nl + 1);
      return line;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 60000) <= 0) return "";
    char buffer[512];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return "";
    pending.append(buffer, static_cast<std::size_t>(n));
  }
}

[[noreturn]] void fail(const std::string& why) {
  (void)std::fprintf(stderr, "single_instance_bench: %s\n", why.c_str());
  std::exit(1);
}

int run(int argc, char** argv) {
  if (argc < 2) fail("usage: single_instance_bench JAVA_HOME [RUNS]");
  const long runs = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 21;
  if (runs < 1) fail("RUNS must be a number above 0");
  const ScopedTempDir temp;
  const std::string home = temp.path() + "/single-bench";
  fs::create_directories(home + "/bin");
  fs::create_directories(home + "/lib/app");
  fs::create_directory_symlink(argv[1], home + "/lib/runtime");
  fs::copy_file(VORLANE_BENCH_SINGLE_JAR, home + "/lib/app/single-bench.jar");
  fs::copy_file(VORLANE_BENCH_LAUNCHER_JAR, home + "/lib/app/vorlane-launcher.jar");
  const std::string launcher = home + "/bin/single-bench";
  const ProcessResult burned =
      run_process({VORLANE_BENCH_PACK, "burn", "--template", VORLANE_BENCH_TEMPLATE, "--output",
                   launcher, "--main-class", "singlebench.Main", "--java-option",
                   "-Djava.class.path=&&/single-bench.jar:&&/vorlane-launcher.jar", "--java-option",
                   "-Dvorlane.singleInstance=single-bench"});
  if (!burned.ok()) fail("burn: " + burned.err);
  // A private runtime folder: no other instance of the app interferes.
  const std::string runtime_dir = temp.path() + "/run";
  fs::create_directory(runtime_dir);
  fs::permissions(runtime_dir, fs::perms::owner_all);
  setenv("XDG_RUNTIME_DIR", runtime_dir.c_str(), 1);

  // (a) and (b, c) take turns, so that the machine's load falls on both alike.
  std::vector<std::int64_t> fresh;
  std::vector<std::int64_t> received;
  std::vector<std::int64_t> exited;
  std::string pending;
  for (int round = 0; round < runs; ++round) {
    const std::int64_t start = now_ns();
    if (!ran({launcher, "--once"})) fail("a fresh start failed");
    fresh.push_back(now_ns() - start);

    // The primary runs while the second launch hands over; it says on its
    // standard output when it is ready and what its handler received.
    int pipe_fds[2] = {-1, -1};
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) fail("cannot make a pipe");
    Result<BackgroundProcess> primary = BackgroundProcess::start({launcher}, {}, pipe_fds[1]);
    close(pipe_fds[1]);
    const int out = pipe_fds[0];
    if (!primary || read_line(out, pending) != "ready true") fail("the primary did not start");
    const std::int64_t second_start = now_ns();
    if (!ran({launcher, "file-" + std::to_string(round) + ".txt"})) {
      fail("a second launch failed");
    }
    exited.push_back(now_ns() - second_start);
    const std::string line = read_line(out, pending);
    if (!line.starts_with("received ")) fail("the handler got nothing: '" + line + "'");
    received.push_back(std::stoll(line.substr(9)) - second_start);
    if (!ran({launcher, "quit"}) || primary->wait(60) != 0) fail("the primary did not end");
    close(out);
    pending.clear();
  }
  const double a = median_ms(fresh);
  const double b = median_ms(received);
  const double c = median_ms(exited);
  std::printf("runs: %ld (medians)\n", runs);
  std::printf("fresh start through the launcher (a):        %8.2f ms\n", a);
  std::printf("second launch to the handler (b):            %8.2f ms  b/a %.4f\n", b, b / a);
  std::printf("second launch to its exit (c):               %8.2f ms  c/a %.4f\n", c, c / a);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    fail(e.what());
  }
}
