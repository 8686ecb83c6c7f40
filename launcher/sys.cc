#include "launcher/sys.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <memory>

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it undeclared

namespace vorlane::sys {

SysResult<std::string> read_link(const char* path, std::size_t buffer_size) {
  std::string buffer(buffer_size, '\0');
  const ssize_t length = readlink(path, buffer.data(), buffer.size());
  if (length < 0) return {{}, errno};
  buffer.resize(static_cast<std::size_t>(length));
  return {std::move(buffer)};
}

SysResult<std::string> real_path(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return {{}, errno};
  return {resolved.get()};
}

namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

SysResult<std::vector<std::string>> list_directory(const std::string& path) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(path.c_str()));
  if (!dir) return {{}, errno};
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir.get())) names.emplace_back(entry->d_name);
  return {std::move(names)};
}

bool is_regular_file(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

int open_closed_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is this one, as those below it are open.
    const int opened = open("/dev/null", O_RDWR);
    if (opened < 0) return errno;
    if (opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
  return 0;
}

void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

bool is_directory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_terminal(int fd) { return isatty(fd) == 1; }

bool is_executable_file(const std::string& path) {
  return is_regular_file(path) && access(path.c_str(), X_OK) == 0;
}

int make_private_dirs(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    // Folders that exist are left as they are: only what is made here is
    // known to be private.
    (void)mkdir(path.substr(0, slash).c_str(), 0700);
  }
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return errno;
  if (!S_ISDIR(info.st_mode)) return ENOTDIR;
  if (info.st_uid != geteuid()) return EPERM;
  return 0;
}

void Fd::reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

namespace {

/// Opens `name` in `dir` for appending, refusing links, and checks that it
/// is a regular file. O_NONBLOCK keeps a FIFO put there from blocking the
/// open; it does not change writes to a regular file.
int open_log(int dir, const std::string& name, Fd& file, struct stat& info) {
  file.reset(openat(dir, name.c_str(),
                    O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
  if (file.get() < 0) return errno;
  if (fstat(file.get(), &info) != 0) return errno;
  if (!S_ISREG(info.st_mode)) return EINVAL;
  return 0;
}

}  // namespace

SysResult<std::string> read_small_file(const std::string& path, std::size_t cap) {
  // O_NONBLOCK: a FIFO in the file's place does not hold up the launch.
  const Fd file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return {{}, errno};
  struct stat info;
  if (fstat(file.get(), &info) != 0) return {{}, errno};
  if (!S_ISREG(info.st_mode)) return {{}, EINVAL};
  if (static_cast<std::size_t>(info.st_size) > cap) return {{}, EFBIG};
  // One more byte than allowed shows a file that grew since fstat.
  std::string text(cap + 1, '\0');
  std::size_t length = 0;
  while (length < text.size()) {
    const ssize_t n = read(file.get(), text.data() + length, text.size() - length);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {{}, errno};
    if (n == 0) break;
    length += static_cast<std::size_t>(n);
  }
  if (length > cap) return {{}, EFBIG};
  text.resize(length);
  return {std::move(text)};
}

int append_to_log(const std::string& dir, const std::string& name, const std::string& entry,
                  const std::function<bool(std::size_t)>& start_over) {
  const Fd folder(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (folder.get() < 0) return errno;
  Fd file(-1);
  struct stat info;
  if (const int error = open_log(folder.get(), name, file, info); error != 0) return error;
  if (start_over(static_cast<std::size_t>(info.st_size))) {
    if (renameat(folder.get(), name.c_str(), folder.get(), (name + ".1").c_str()) != 0) {
      return errno;
    }
    if (const int error = open_log(folder.get(), name, file, info); error != 0) return error;
  }
  std::size_t written = 0;
  while (written < entry.size()) {
    const ssize_t n = write(file.get(), entry.data() + written, entry.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    written += static_cast<std::size_t>(n);
  }
  return 0;
}

std::string utc_time_text() {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  std::string text(sizeof "2026-01-31T12:00:00Z", '\0');
  if (gmtime_r(&now, &parts) == nullptr) return "?";
  text.resize(std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &parts));
  return text;
}

int spawn_detached(const std::vector<std::string>& argv) {
  if (argv.empty()) return EINVAL;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  for (int fd = 0; fd <= 2; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  // The JVM blocks and handles signals of its own; the child gets none of it.
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  pid_t pid = 0;
  const int error = posix_spawn(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return error;
}

}  // namespace vorlane::sys
