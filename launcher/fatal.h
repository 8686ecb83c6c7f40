// The launcher's one way to end a launch that failed.
#pragma once

namespace vorlane {

/// Prints the `printf`-style message and a newline to standard error and ends
/// the process with status 1.
[[noreturn]] void bail(const char* format, ...) __attribute__((format(printf, 1, 2)));

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
