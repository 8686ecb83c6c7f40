#include "pack/image/training_display.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "pack/core/tools.h"

namespace vorlane {

namespace {

/// A file descriptor closed when this goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

/// The longest display number Xvfb writes, with its newline: a bound on what is read.
constexpr std::size_t kMaxNumberLength = 12;

}  // namespace

DisplaySource choose_training_display(bool runtime_has_awt,
                                      const std::optional<std::string>& display,
                                      const std::string& xvfb) {
  if (!runtime_has_awt) return DisplaySource::kNotNeeded;
  if (display && !display->empty()) return DisplaySource::kInherited;
  return xvfb.empty() ? DisplaySource::kNone : DisplaySource::kPrivateXvfb;
}

Result<PrivateDisplay> PrivateDisplay::start(const std::string& xvfb, int timeout_seconds) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return step_failed(std::string("pipe2: ") + std::strerror(errno));
  const Fd read_end(fds[0]);
  Fd write_end(fds[1]);
  ProcessOptions options;
  options.inherited_fd = write_end.get();
  Result<BackgroundProcess> server =
      BackgroundProcess::start({xvfb, "-displayfd", std::to_string(write_end.get()), "-nolisten",
                                "tcp", "-screen", "0", "1280x1024x24"},
                               options);
  if (!server) return server.error();
  // Our copy closed, the read below ends when Xvfb exits without a number.
  write_end.reset();
  // Xvfb writes the number once it accepts clients, and keeps the pipe open.
  std::string number;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(std::max(timeout_seconds, 1));
  char c = 0;
  while (number.size() < kMaxNumberLength) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd readable{read_end.get(), POLLIN, 0};
    const int ready = left > 0 ? poll(&readable, 1, static_cast<int>(left)) : 0;
    if (ready < 0 && errno == EINTR && interrupted() == 0) continue;
    if (ready <= 0) {
      return step_failed(xvfb + " gave no display number within " +
                         std::to_string(std::max(timeout_seconds, 1)) + " s");
    }
    const ssize_t n = read(read_end.get(), &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1) return step_failed(xvfb + " ended before it accepted clients");
    if (c == '\n') break;
    if (c < '0' || c > '9') return step_failed(xvfb + " gave no display number");
    number += c;
  }
  if (number.empty() || c != '\n') return step_failed(xvfb + " gave no display number");
  return PrivateDisplay(std::move(*server), ":" + number);
}

TrainingDisplay open_training_display(const std::string& runtime, int timeout_seconds) {
  std::error_code ec;
  const bool has_awt = std::filesystem::exists(runtime + "/lib/libawt_xawt.so", ec);
  const char* display = std::getenv("DISPLAY");
  const std::string xvfb = find_program("Xvfb", std::getenv("PATH"));
  TrainingDisplay out;
  switch (choose_training_display(
      has_awt, display == nullptr ? std::nullopt : std::optional<std::string>(display), xvfb)) {
    case DisplaySource::kNotNeeded:
    case DisplaySource::kInherited:
      break;
    case DisplaySource::kNone:
      out.missing =
          "DISPLAY is not set and there is no Xvfb on PATH (Debian's xvfb), and the runtime can "
          "show windows. Set DISPLAY or install Xvfb, then run `vorlane-pack cds` on the tree";
      break;
    case DisplaySource::kPrivateXvfb: {
      Result<PrivateDisplay> server = PrivateDisplay::start(xvfb, timeout_seconds);
      if (server) {
        out.display = server->name();
        out.server.emplace(std::move(*server));
      } else {
        out.missing =
            "DISPLAY is not set and a private Xvfb did not start: " + server.error().message;
      }
      break;
    }
  }
  return out;
}

}  // namespace vorlane
