#include "pack/core/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>

namespace vorlane {

namespace {

/// A file descriptor closed when this goes out of scope.
class FileFd {
 public:
  explicit FileFd(int fd) : fd_(fd) {}
  ~FileFd() {
    if (fd_ >= 0) close(fd_);
  }
  FileFd(const FileFd&) = delete;
  FileFd& operator=(const FileFd&) = delete;
  int get() const { return fd_; }
  /// Closes it now, reporting a failed close, which can be a failed write.
  bool close_now() {
    const int fd = std::exchange(fd_, -1);
    return close(fd) == 0;
  }

 private:
  int fd_;
};

/// Up to `limit` bytes of the file at `path`, and in `more` whether it
/// holds more than that. `no_fifo` opens without blocking on a FIFO and
/// refuses it.
Result<std::vector<std::uint8_t>> read_up_to(const std::string& path, std::size_t limit,
                                             bool no_fifo, bool& more) {
  FileFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | (no_fifo ? O_NONBLOCK : 0)));
  if (fd.get() < 0) return system_failure("open", path);
  struct stat st {};
  if (no_fifo && fstat(fd.get(), &st) == 0 && S_ISFIFO(st.st_mode)) {
    return step_failed("cannot read " + path + ": it is a FIFO, not a file");
  }
  if (no_fifo) (void)fcntl(fd.get(), F_SETFL, 0);  // reads block as usual again
  std::vector<std::uint8_t> bytes;
  std::array<std::uint8_t, 65536> buffer;
  more = false;
  for (;;) {
    // One byte past the limit tells a file of exactly `limit` bytes from a
    // longer one.
    const std::size_t want = std::min(buffer.size(), limit + 1 - bytes.size());
    const ssize_t n = read(fd.get(), buffer.data(), want);
    if (n < 0 && errno == EINTR) continue;
    // A directory opens, but reading it fails (EISDIR).
    if (n < 0) return system_failure("read", path);
    if (n == 0) break;
    bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + n);
    if (bytes.size() > limit) {
      bytes.resize(limit);
      more = true;
      break;
    }
  }
  return bytes;
}

Result<std::vector<std::uint8_t>> read_whole(const std::string& path, bool no_fifo) {
  bool more = false;
  Result<std::vector<std::uint8_t>> bytes = read_up_to(path, kMaxFileSize, no_fifo, more);
  if (bytes && more) return step_failed("cannot read " + path + ": it holds more than 256 MiB");
  return bytes;
}

/// Copies the regular file `from` to the new file `to` with its permission
/// bits and times, leaving its holes holes.
Status copy_file(const std::string& from, const std::string& to) {
  FileFd in(open(from.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (in.get() < 0 || fstat(in.get(), &st) != 0) return system_failure("open", from);
  FileFd out(open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.get() < 0) return system_failure("create", to);
  std::vector<std::uint8_t> buffer(std::size_t{1} << 17);
  off_t at = 0;
  while (at < st.st_size) {
    off_t data = lseek(in.get(), at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // a hole up to the end
    if (data < 0) data = at;                // no hole support: copy it all
    off_t hole = lseek(in.get(), data, SEEK_HOLE);
    if (hole < 0) hole = st.st_size;
    for (off_t pos = data; pos < hole;) {
      const auto want =
          static_cast<std::size_t>(std::min<off_t>(hole - pos, static_cast<off_t>(buffer.size())));
      const ssize_t n = pread(in.get(), buffer.data(), want, pos);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return system_failure("read", from);
      if (n == 0) break;  // the file shrank meanwhile
      if (lseek(out.get(), pos, SEEK_SET) < 0) return system_failure("write", to);
      if (Status written =
              write_all(out.get(), std::span(buffer.data(), static_cast<std::size_t>(n)), to);
          !written) {
        return written.error();
      }
      pos += n;
    }
    at = hole;
  }
  if (ftruncate(out.get(), st.st_size) != 0) return system_failure("write", to);
  if (fchmod(out.get(), st.st_mode & 07777) != 0) {
    return system_failure("set the permissions of", to);
  }
  // Class-data archives check each jar's size and time: a jar keeps its time.
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (futimens(out.get(), times) != 0) return system_failure("set the time of", to);
  if (!out.close_now()) return system_failure("write", to);
  return done();
}

/// The names in the folder `path`, sorted, without "." and "..".
Result<std::vector<std::string>> list_folder(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return system_failure("list", path);
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const int saved = errno;
  closedir(dir);
  if (saved != 0) {
    errno = saved;
    return system_failure("list", path);
  }
  std::sort(names.begin(), names.end());
  return names;
}

/// The path with every link resolved, or "" when it does not resolve.
std::string real_path(const std::string& path) {
  char buffer[PATH_MAX];
  return realpath(path.c_str(), buffer) == nullptr ? std::string() : std::string(buffer);
}

class TreeWalker {
 public:
  TreeWalker(std::string root, Links links, FolderAccess access)
      : root_(std::move(root)), real_root_(real_path(root_)), links_(links), access_(access) {}

  Status walk(const std::string& relative, std::vector<TreeEntry>& out) {
    const std::string folder = relative.empty() ? root_ : root_ + "/" + relative;
    Result<std::vector<std::string>> names = list_folder(folder);
    if (!names) return names.error();
    for (const std::string& name : *names) {
      const std::string rel = relative.empty() ? name : relative + "/" + name;
      const std::string path = root_ + "/" + rel;
      struct stat st {};
      if (lstat(path.c_str(), &st) != 0) return system_failure("look at", path);
      if (S_ISLNK(st.st_mode)) {
        const std::string target = link_text(path);
        if (links_ == Links::kNever ||
            (links_ == Links::kKeepInternal && !target.empty() && target[0] != '/' &&
             real_path(path).starts_with(real_root_ + "/"))) {
          out.push_back(entry(rel, TreeEntry::Type::kLink, st, target));
          continue;
        }
        if (stat(path.c_str(), &st) != 0) {
          // A runtime may hold links to what is not installed (Debian's
          // lib/src.zip): they stay as they were. The copy is checked after.
          if (links_ == Links::kKeepInternal) {
            out.push_back(entry(rel, TreeEntry::Type::kLink, st, target));
            continue;
          }
          return bad_input(path + " is a link to " + target +
                           ", which does not exist; remove the link or what it points to");
        }
      }
      if (S_ISDIR(st.st_mode)) {
        const std::pair<dev_t, ino_t> id(st.st_dev, st.st_ino);
        if (!open_folders_.insert(id).second) {
          return bad_input(path + " leads back to a folder that holds it (a link loop)");
        }
        out.push_back(entry(rel, TreeEntry::Type::kFolder, st));
        if (access_ == FolderAccess::kOpenForOwner &&
            chmod(path.c_str(), (st.st_mode & 07777) | 0700) != 0) {
          return system_failure("open up", path);
        }
        if (Status walked = walk(rel, out); !walked) return walked;
        open_folders_.erase(id);
      } else if (S_ISREG(st.st_mode)) {
        out.push_back(entry(rel, TreeEntry::Type::kFile, st));
      } else if (links_ == Links::kNever) {
        out.push_back(entry(rel, TreeEntry::Type::kOther, st));
      } else {
        return bad_input(path + " is " + kind_of(st.st_mode) +
                         ", which cannot be copied into an app; remove it");
      }
    }
    return done();
  }

  Status start() {
    struct stat st {};
    if (stat(root_.c_str(), &st) != 0) return system_failure("look at", root_);
    open_folders_.insert({st.st_dev, st.st_ino});
    if (access_ == FolderAccess::kOpenForOwner &&
        chmod(root_.c_str(), (st.st_mode & 07777) | 0700) != 0) {
      return system_failure("open up", root_);
    }
    return done();
  }

 private:
  static TreeEntry entry(const std::string& rel, TreeEntry::Type type, const struct stat& st,
                         std::string target = "") {
    return {rel,
            type,
            std::move(target),
            static_cast<unsigned>(st.st_mode & 07777),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtime)};
  }
  static std::string link_text(const std::string& path) {
    char buffer[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof(buffer));
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
  }
  static std::string kind_of(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "a device";
  }

  std::string root_;
  std::string real_root_;
  Links links_;
  FolderAccess access_;
  /// The folders from the root down to the one being walked.
  std::set<std::pair<dev_t, ino_t>> open_folders_;
};

}  // namespace

Error system_failure(const std::string& what, const std::string& path) {
  const int saved = errno;
  Error error = step_failed(system_error(what, path));
  error.machine_fault = saved == EIO || saved == ENOSPC || saved == EDQUOT || saved == ENOMEM ||
                        saved == EMFILE || saved == ENFILE;
  return error;
}

std::string system_error(const std::string& what, const std::string& path) {
  const int saved = errno;
  std::string text = "cannot " + what + " " + path + ": " + std::strerror(saved);
  if (saved == ENOSPC || saved == EDQUOT) {
    text += " (the disk is full, or the user's quota used up: free some space there)";
  }
  return text;
}

Result<std::vector<std::uint8_t>> read_file(const std::string& path) {
  return read_whole(path, false);
}

Result<std::vector<std::uint8_t>> read_file_no_fifo(const std::string& path) {
  return read_whole(path, true);
}

Result<std::vector<std::uint8_t>> read_file_head(const std::string& path, std::size_t max_bytes) {
  bool more = false;
  return read_up_to(path, max_bytes, true, more);
}

Status write_all(int fd, std::span<const std::uint8_t> bytes, const std::string& path) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return system_failure("write", path);
    written += static_cast<std::size_t>(n);
  }
  return done();
}

Status write_file_atomically(const std::string& path, std::string_view text, unsigned mode) {
  return write_file_atomically(
      path, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), mode);
}

Status write_file_atomically(const std::string& path, std::span<const std::uint8_t> bytes,
                             unsigned mode) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return system_failure("create a file beside", path);
  Status status = write_all(fd, bytes, temp);
  if (status && fchmod(fd, mode) != 0) {
    status = system_failure("set the permissions of", temp);
  }
  if (status && fsync(fd) != 0) status = system_failure("write", temp);
  if (close(fd) != 0 && status) status = system_failure("write", temp);
  if (status && rename(temp.c_str(), path.c_str()) != 0) {
    status = system_failure("replace", path);
  }
  if (!status) unlink(temp.c_str());
  return status;
}

std::string own_directory() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<std::size_t>(n));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

Result<std::vector<TreeEntry>> walk_tree(const std::string& root, Links links,
                                         FolderAccess access) {
  TreeWalker walker(root, links, access);
  std::vector<TreeEntry> entries;
  if (Status started = walker.start(); !started) return started.error();
  if (Status walked = walker.walk("", entries); !walked) return walked.error();
  return entries;
}

Status copy_tree(const std::string& from, const std::string& to, Links links) {
  Result<std::vector<TreeEntry>> entries = walk_tree(from, links);
  if (!entries) return entries.error();
  if (mkdir(to.c_str(), 0777) != 0) return system_failure("create", to);
  for (const TreeEntry& entry : *entries) {
    const std::string source = from + "/" + entry.path;
    const std::string target = to + "/" + entry.path;
    switch (entry.type) {
      case TreeEntry::Type::kFolder:
        if (mkdir(target.c_str(), 0777) != 0) return system_failure("create", target);
        break;
      case TreeEntry::Type::kLink:
        if (symlink(entry.link_target.c_str(), target.c_str()) != 0) {
          return system_failure("create the link", target);
        }
        break;
      case TreeEntry::Type::kFile:
        if (Status copied = copy_file(source, target); !copied) return copied;
        break;
      case TreeEntry::Type::kOther:
        return bad_input(source + " is neither a file, a folder nor a link; remove it");
    }
  }
  return done();
}

Status set_tree_times(const std::string& root, std::int64_t seconds) {
  const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  const auto set = [&times](const std::string& path) -> Status {
    if (utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
      return system_failure("set the time of", path);
    }
    return done();
  };
  if (Status s = set(root); !s) return s;
  // Setting an entry's times leaves its folder's as they are.
  std::error_code ec;
  for (std::filesystem::recursive_directory_iterator it(root, ec), end; !ec && it != end;
       it.increment(ec)) {
    if (Status s = set(it->path().string()); !s) return s;
  }
  if (ec) return step_failed("cannot list " + root + ": " + ec.message());
  return done();
}

}  // namespace vorlane
