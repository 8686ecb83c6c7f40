#include "launcher/fatal.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace vorlane {

namespace {

FailureReporter g_reporter = nullptr;

/// The printf-style text of `format` and `args`.
std::string format_text(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(nullptr, 0, format, again);
  va_end(again);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  (void)std::vsnprintf(text.data(), text.size(), format, args);
  text.pop_back();
  return text;
}

}  // namespace

// Writes to standard error are not checked: the process ends right after
// them, and a report that cannot be written has nowhere else to go. Standard
// error is written first, before anything allocates: a launch that ran out of
// memory still says so there.

void set_failure_reporter(FailureReporter reporter) { g_reporter = reporter; }

void report_failure(const char* title, const char* message) {
  if (g_reporter == nullptr) return;
  try {
    g_reporter(title, message);
  } catch (const std::bad_alloc&) {  // NOLINT(bugprone-empty-catch): standard error has it
  }
}

// C-style variadic so that the compiler checks each message against its
// format, as it does for printf.
void bail(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  (void)std::vfprintf(stderr, format, args);
  va_end(args);
  (void)std::fputc('\n', stderr);
  try {
    const std::string message = format_text(format, again);
    report_failure(nullptr, message.c_str());
  } catch (const std::bad_alloc&) {  // NOLINT(bugprone-empty-catch): standard error has it
  }
  va_end(again);
  std::exit(1);
}

void bail_with_details(const std::string& message, const std::string& details) {
  (void)std::fprintf(stderr, "%s\n", message.c_str());
  try {
    report_failure(nullptr,
                   details.empty() ? message.c_str() : (message + "\n\n" + details).c_str());
  } catch (const std::bad_alloc&) {  // NOLINT(bugprone-empty-catch): standard error has it
  }
  std::exit(1);
}

void fail_system_call(const char* what, int error) {
  errno = error;
  std::perror(what);
  try {
    report_failure(nullptr, (std::string(what) + ": " + std::strerror(error)).c_str());
  } catch (const std::bad_alloc&) {  // NOLINT(bugprone-empty-catch): standard error has it
  }
  std::exit(1);
}

void print_alert(const char* title, const char* message) {
  (void)std::fprintf(stderr, "Error: %s\n%s\n", title, message);
  (void)std::fflush(stderr);
}

void show_alert(const char* title, const char* message) {
  print_alert(title, message);
  report_failure(title, message);
  std::exit(1);
}

}  // namespace vorlane
