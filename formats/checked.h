// The result of reading or writing a format: a value, or the sentence that
// says why the input was refused. The formats depend on nothing of ours, so
// each caller turns a refusal into its own error.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace vorlane::formats {

/// Why an input was refused: one sentence for the user.
struct Refusal {
  std::string message;
};

/// A value, or the refusal that kept it from being made.
template <class T>
class [[nodiscard]] Checked {
 public:
  Checked(T value) : state_(std::move(value)) {}            // NOLINT(google-explicit-constructor)
  Checked(Refusal refusal) : state_(std::move(refusal)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }
  const std::string& refusal() const { return std::get<1>(state_).message; }

 private:
  std::variant<T, Refusal> state_;
};

}  // namespace vorlane::formats
