#include "launcher/fatal.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace vorlane {

void bail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::exit(1);
}

void fail_system_call(const char* what, int error) {
  errno = error;
  std::perror(what);
  std::exit(1);
}

void print_alert(const char* title, const char* message) {
  std::fprintf(stderr, "Error: %s\n%s\n", title, message);
  std::fflush(stderr);
}

void show_alert(const char* title, const char* message) { bail("Error: %s\n%s", title, message); }

}  // namespace vorlane
