#include "pack/image/training_display.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

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
constexpr char kCookieName[] = "MIT-MAGIC-COOKIE-1";
constexpr std::size_t kCookieBytes = 16;

/// Makes the file at `fd` hold `entry` alone.
Status write_authority(int fd, const std::string& entry) {
  if (ftruncate(fd, 0) != 0 ||
      pwrite(fd, entry.data(), entry.size(), 0) != static_cast<ssize_t>(entry.size())) {
    return step_failed(std::string("cannot write the X authority file: ") + std::strerror(errno));
  }
  return done();
}

}  // namespace

DisplaySource choose_training_display(bool runtime_has_awt,
                                      const std::optional<std::string>& display,
                                      const std::string& xvfb) {
  if (!runtime_has_awt) return DisplaySource::kNotNeeded;
  if (display && !display->empty()) return DisplaySource::kInherited;
  return xvfb.empty() ? DisplaySource::kNone : DisplaySource::kPrivateXvfb;
}

std::string xauthority_entry(const std::string& number, std::string_view cookie) {
  std::string entry = "\xff\xff";  // FamilyWild: any host
  for (const std::string_view field :
       {std::string_view(), std::string_view(number), std::string_view(kCookieName), cookie}) {
    entry += static_cast<char>((field.size() >> 8) & 0xff);
    entry += static_cast<char>(field.size() & 0xff);
    entry += field;
  }
  return entry;
}

Result<PrivateDisplay> PrivateDisplay::start(const std::string& xvfb, int timeout_seconds) {
  PrivateDisplay display;
  std::error_code ec;
  std::string pattern =
      (std::filesystem::temp_directory_path(ec) / "vorlane-xauth-XXXXXX").string();
  const Fd auth(mkstemp(pattern.data()));  // mode 0600: the cookie is ours alone
  if (auth.get() < 0) return step_failed("cannot make " + pattern + ": " + std::strerror(errno));
  display.authority_ = pattern;
  std::string cookie(kCookieBytes, '\0');
  if (getrandom(cookie.data(), cookie.size(), 0) != static_cast<ssize_t>(cookie.size())) {
    return step_failed(std::string("getrandom: ") + std::strerror(errno));
  }
  if (Status written = write_authority(auth.get(), xauthority_entry("", cookie)); !written) {
    return written.error();
  }

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return step_failed(std::string("pipe2: ") + std::strerror(errno));
  const Fd read_end(fds[0]);
  Fd write_end(fds[1]);
  ProcessOptions options;
  options.inherited_fd = write_end.get();
  Result<BackgroundProcess> server =
      BackgroundProcess::start({xvfb, "-displayfd", std::to_string(write_end.get()), "-nolisten",
                                "tcp", "-auth", display.authority_, "-screen", "0", "1280x1024x24"},
                               options);
  if (!server) return server.error();
  display.server_.emplace(std::move(*server));
  // Our copy closed, the read below ends when Xvfb exits without a number.
  write_end.reset();
  // Xvfb writes the number once it accepts clients, and keeps the pipe open.
  std::string number;
  const int seconds = std::max(timeout_seconds, 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  char c = 0;
  while (number.size() < kMaxNumberLength) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    pollfd readable{read_end.get(), POLLIN, 0};
    const int ready = left > 0 ? poll(&readable, 1, static_cast<int>(left)) : 0;
    if (ready < 0 && errno == EINTR && interrupted() == 0) continue;
    if (ready <= 0) {
      return step_failed(xvfb + " gave no display number within " + std::to_string(seconds) + " s");
    }
    const ssize_t n = read(read_end.get(), &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1) return step_failed(xvfb + " ended before it accepted clients");
    if (c == '\n') break;
    if (c < '0' || c > '9') return step_failed(xvfb + " gave no display number");
    number += c;
  }
  if (number.empty() || c != '\n') return step_failed(xvfb + " gave no display number");
  // Clients look for an entry of their display's number.
  if (Status written = write_authority(auth.get(), xauthority_entry(number, cookie)); !written) {
    return written.error();
  }
  display.name_ = ":" + number;
  return display;
}

PrivateDisplay::PrivateDisplay(PrivateDisplay&& other) noexcept
    : server_(std::move(other.server_)),
      name_(std::move(other.name_)),
      authority_(std::exchange(other.authority_, "")) {
  other.server_.reset();
}

PrivateDisplay::~PrivateDisplay() {
  server_.reset();  // stops it first: it may read the file as it resets
  if (!authority_.empty()) unlink(authority_.c_str());
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
        out.authority = server->authority();
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
