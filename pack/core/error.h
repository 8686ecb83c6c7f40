// The packer's one error type: what went wrong and of which kind, from which
// the exit status follows.
#pragma once

#include <string>
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
};

inline Error bad_input(std::string message) { return {ErrorKind::kBadInput, std::move(message)}; }
inline Error step_failed(std::string message) {
  return {ErrorKind::kStepFailed, std::move(message)};
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
