// The launcher's one way to end a launch that failed.
#pragma once

#include <string>

namespace vorlane {

/// Where a failure goes besides standard error: the launcher sets one at
/// start (the desktop's dialog and log, launcher/failure_dialog.h). `title`
/// is null for a failure reported without one. A reporter never ends the
/// process and never throws.
using FailureReporter = void (*)(const char* title, const char* message);

/// Sets the reporter the functions below call before the process ends.
/// Process-wide, as these functions are called from anywhere; set once in
/// `main` before anything can fail. Null: none.
void set_failure_reporter(FailureReporter reporter);

/// Hands a failure to the reporter, if one is set; for callers that end the
/// process their own way (through Java's System.exit).
void report_failure(const char* title, const char* message);

/// Prints the `printf`-style message and a newline to standard error and ends
/// the process with status 1.
[[noreturn]] void bail(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// Prints `message` and a newline to standard error as bail("%s") does, but
/// reports `message`, an empty line and `details` (what the JVM printed as it
/// refused to start); ends the process with status 1.
[[noreturn]] void bail_with_details(const std::string& message, const std::string& details);

/// Reports an error to the user: "Error: " + title, a newline, the message and
/// a newline on standard error; then ends the process with status 1.
[[noreturn]] void show_alert(const char* title, const char* message);

/// Reports a failed system call as perror() does ("what: reason" for the
/// errno value `error`) and ends the process with status 1.
[[noreturn]] void fail_system_call(const char* what, int error);

/// Prints what `show_alert` prints, without ending the process, for a caller
/// that has to end it another way.
void print_alert(const char* title, const char* message);

}  // namespace vorlane
