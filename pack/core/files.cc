#include "pack/core/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace vorlane {

namespace {

std::string describe_errno(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

/// Up to `limit` bytes of the file at `path`, and in `more` whether it
/// holds more than that.
std::optional<std::vector<std::uint8_t>> read_up_to(const std::string& path, std::size_t limit,
                                                    bool& more, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = describe_errno("cannot open", path);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  std::array<std::uint8_t, 65536> buffer;
  more = false;
  for (;;) {
    // One byte past the limit tells a file of exactly `limit` bytes from a
    // longer one.
    const std::size_t want = std::min(buffer.size(), limit + 1 - bytes.size());
    const ssize_t n = read(fd, buffer.data(), want);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      // A directory opens, but reading it fails (EISDIR).
      error = describe_errno("cannot read", path);
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + n);
    if (bytes.size() > limit) {
      bytes.resize(limit);
      more = true;
      break;
    }
  }
  close(fd);
  return bytes;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> read_file(const std::string& path, std::string& error) {
  bool more = false;
  std::optional<std::vector<std::uint8_t>> bytes = read_up_to(path, kMaxFileSize, more, error);
  if (bytes && more) {
    error = "cannot read " + path + ": it holds more than 256 MiB";
    return std::nullopt;
  }
  return bytes;
}

std::optional<std::vector<std::uint8_t>> read_file_head(const std::string& path,
                                                        std::size_t max_bytes, std::string& error) {
  bool more = false;
  return read_up_to(path, max_bytes, more, error);
}

bool write_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes,
                           unsigned mode, std::string& error) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = describe_errno("cannot create a file beside", path);
    return false;
  }
  bool ok = true;
  std::size_t written = 0;
  while (ok && written < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = describe_errno("cannot write", temp);
      ok = false;
    } else {
      written += static_cast<std::size_t>(n);
    }
  }
  if (ok && fchmod(fd, mode) != 0) {
    error = describe_errno("cannot set the permissions of", temp);
    ok = false;
  }
  if (ok && fsync(fd) != 0) {
    error = describe_errno("cannot write", temp);
    ok = false;
  }
  if (close(fd) != 0 && ok) {
    error = describe_errno("cannot write", temp);
    ok = false;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    error = describe_errno("cannot replace", path);
    ok = false;
  }
  if (!ok) unlink(temp.c_str());
  return ok;
}

std::string own_directory() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<std::size_t>(n));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace vorlane
