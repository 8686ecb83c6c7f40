// The packer's one error type: what went wrong and of which kind, from which
// the exit status follows.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace vorlane {

/// What kind of failure stopped a command.
enum class ErrorKind {
  kBadInput,     ///< a usage error or a refusal; nothing was made or changed
  kStepFailed,   ///< a tool run or a file operation failed
  kInterrupted,  ///< SIGINT, SIGTERM or SIGHUP
};

/// The packer's exit statuses.
enum class ExitStatus : int { kMade = 0, kStepFailed = 1, kBadInput = 2, kInterrupted = 130 };

constexpr ExitStatus exit_status(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kBadInput:
      return ExitStatus::kBadInput;
    case ErrorKind::kStepFailed:
      return ExitStatus::kStepFailed;
    case ErrorKind::kInterrupted:
      return ExitStatus::kInterrupted;
  }
  return ExitStatus::kStepFailed;
}

struct Error {
  ErrorKind kind = ErrorKind::kStepFailed;
  /// A sentence for the user, without the tool's name in front.
  std::string message;
  /// A failure of the machine rather than of what was named: a disk error,
  /// a full disk, no memory or descriptors left. Such a failure stays a
  /// failed step where a caller would otherwise call it bad input.
  bool machine_fault = false;
};

inline Error bad_input(std::string message) { return {ErrorKind::kBadInput, std::move(message)}; }
inline Error step_failed(std::string message) {
  return {ErrorKind::kStepFailed, std::move(message)};
}
/// A step that stopped on SIGINT, SIGTERM or SIGHUP.
inline Error interruption() { return {ErrorKind::kInterrupted, "interrupted"}; }

/// `error` with `context` in front of its message; its kind is kept.
inline Error with_context(std::string_view context, Error error) {
  error.message.insert(0, context);
  return error;
}

/// `error` as a refusal of what the user gave (a path that is missing, not
/// a file, or not readable, a file that is no launcher...), exit status 2;
/// a failure of the machine and an interruption keep their kind.
inline Error as_input(Error error) {
  if (error.kind == ErrorKind::kStepFailed && !error.machine_fault) {
    error.kind = ErrorKind::kBadInput;
  }
  return error;
}

/// `error` as a failed step of the packer's own (what it made or read of
/// its own is not as it should be), exit status 1; an interruption stays one.
inline Error as_step(Error error) {
  if (error.kind == ErrorKind::kBadInput) error.kind = ErrorKind::kStepFailed;
  return error;
}

/// A value or the error that kept it from being made.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}      // NOLINT(google-explicit-constructor)
  Result(Error error) : state_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }
  const Error& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, Error> state_;
};

/// The result of a step that makes no value.
struct Done {};
using Status = Result<Done>;
inline Status done() { return Done{}; }

}  // namespace vorlane
