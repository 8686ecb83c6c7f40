#include "launcher/sys.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

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

}  // namespace vorlane::sys
