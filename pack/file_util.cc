#include "pack/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace vorlane {

namespace {

std::string describe_errno(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::optional<std::vector<std::uint8_t>> read_file(const std::string& path, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = describe_errno("cannot open", path);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes;
  std::array<std::uint8_t, 65536> buffer;
  for (;;) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      // A directory opens, but reading it fails (EISDIR).
      error = describe_errno("cannot read", path);
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    if (static_cast<std::size_t>(n) > kMaxFileSize - bytes.size()) {
      error = "cannot read " + path + ": it holds more than 256 MiB";
      close(fd);
      return std::nullopt;
    }
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + n);
  }
  close(fd);
  return bytes;
}

std::optional<std::vector<std::uint8_t>> read_file_head(const std::string& path,
                                                        std::size_t max_bytes, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = describe_errno("cannot open", path);
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(max_bytes);
  std::size_t got = 0;
  while (got < max_bytes) {
    const ssize_t n = read(fd, bytes.data() + got, max_bytes - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = describe_errno("cannot read", path);
      close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  close(fd);
  bytes.resize(got);
  return bytes;
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
