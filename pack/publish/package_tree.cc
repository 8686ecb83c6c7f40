#include "pack/publish/package_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "pack/core/files.h"
#include "pack/core/strings.h"

namespace vorlane::publish {

namespace {

/// A descriptor closed when this goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::vector<std::string> components(const std::string& member) {
  std::vector<std::string> parts;
  for (const std::string& part : split(member, '/')) {
    if (!part.empty() && part != ".") parts.push_back(part);
  }
  return parts;
}

PackageTree::Kind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return PackageTree::Kind::kFile;
  if (S_ISDIR(mode)) return PackageTree::Kind::kFolder;
  if (S_ISLNK(mode)) return PackageTree::Kind::kLink;
  return PackageTree::Kind::kOther;
}

}  // namespace

namespace {

/// What a member turned out to be, when it is not what was expected.
Error not_a(const std::string& package, const std::string& member, int dir_fd,
            const std::string& name, const char* expected) {
  struct stat st {};
  const bool link =
      fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
  return bad_input(package + ": its member ./" + member + " is " +
                   (link ? "a symbolic link" : "no plain " + std::string(expected)) + " where a " +
                   expected + " is expected; publish reads no file through a link");
}

/// The folder `parts[0..n)` under `root`, each component opened without
/// following a link; an invalid Fd when one is missing.
Result<Fd> open_folder(const std::string& root, const std::string& package,
                       const std::vector<std::string>& parts, std::size_t n) {
  // ".." would climb out of the tree: it names no member.
  if (std::find(parts.begin(), parts.end(), "..") != parts.end()) {
    return bad_input(package + ": '..' names no member");
  }
  Fd dir(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) return system_failure("open", root);
  std::string walked;
  for (std::size_t i = 0; i < n; ++i) {
    walked += (walked.empty() ? "" : "/") + parts[i];
    Fd next(openat(dir.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (next.get() < 0) {
      if (errno == ENOENT) return Fd();
      if (errno == ENOTDIR || errno == ELOOP)
        return not_a(package, walked, dir.get(), parts[i], "folder");
      return system_failure("open", root + "/" + walked);
    }
    dir = std::move(next);
  }
  return dir;
}

}  // namespace

Result<std::optional<std::vector<std::uint8_t>>> PackageTree::read(const std::string& member,
                                                                   std::size_t max_bytes) const {
  const std::vector<std::string> parts = components(member);
  if (parts.empty()) return bad_input(package_ + ": no member named");
  Result<Fd> dir = open_folder(root_, package_, parts, parts.size() - 1);
  if (!dir) return dir.error();
  if (dir->get() < 0) return std::optional<std::vector<std::uint8_t>>();
  Fd file(openat(dir->get(), parts.back().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    if (errno == ENOENT) return std::optional<std::vector<std::uint8_t>>();
    if (errno == ELOOP) return not_a(package_, member, dir->get(), parts.back(), "file");
    return system_failure("open", root_ + "/" + member);
  }
  struct stat st {};
  if (fstat(file.get(), &st) != 0) return system_failure("read", root_ + "/" + member);
  if (!S_ISREG(st.st_mode)) return not_a(package_, member, dir->get(), parts.back(), "file");
  if (static_cast<std::uint64_t>(st.st_size) > max_bytes) {
    return bad_input(package_ + ": its member ./" + member + " holds " +
                     std::to_string(st.st_size) + " bytes, more than the " +
                     std::to_string(max_bytes) + " publish reads");
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(file.get(), bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return system_failure("read", root_ + "/" + member);
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return std::optional<std::vector<std::uint8_t>>(std::move(bytes));
}

Result<std::vector<PackageTree::Child>> PackageTree::list(const std::string& member) const {
  const std::vector<std::string> parts = components(member);
  Result<Fd> dir = open_folder(root_, package_, parts, parts.size());
  if (!dir) return dir.error();
  std::vector<Child> children;
  if (dir->get() < 0) return children;
  // fdopendir owns the descriptor from here on.
  DIR* stream = fdopendir(dir->get());
  if (stream == nullptr) return system_failure("list", root_ + "/" + member);
  const int fd = dir->release();
  while (const dirent* entry = readdir(stream)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    const Kind kind = fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? kind_of(st.st_mode)
                                                                               : Kind::kOther;
    children.push_back({name, kind});
  }
  closedir(stream);
  std::sort(children.begin(), children.end(),
            [](const Child& a, const Child& b) { return a.name < b.name; });
  return children;
}

Result<bool> PackageTree::has_folder(const std::string& member) const {
  const std::vector<std::string> parts = components(member);
  Result<Fd> dir = open_folder(root_, package_, parts, parts.size());
  if (!dir) return dir.error();
  return dir->get() >= 0;
}

}  // namespace vorlane::publish
