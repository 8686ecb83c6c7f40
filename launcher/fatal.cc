#include "launcher/fatal.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace vorlane {

// Writes to standard error are not checked: the process ends right after
// them, and a report that cannot be written has nowhere else to go.

// C-style variadic so that the compiler checks each message against its
// format, as it does for printf.
void bail(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  va_list args;
  va_start(args, format);
  (void)std::vfprintf(stderr, format, args);
  va_end(args);
  (void)std::fputc('\n', stderr);
  std::exit(1);
}

void fail_system_call(const char* what, int error) {
  errno = error;
  std::perror(what);
  std::exit(1);
}

void print_alert(const char* title, const char* message) {
  (void)std::fprintf(stderr, "Error: %s\n%s\n", title, message);
  (void)std::fflush(stderr);
}

void show_alert(const char* title, const char* message) { bail("Error: %s\n%s", title, message); }

}  // namespace vorlane
