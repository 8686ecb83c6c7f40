// What the packer says on standard error: progress (unless quiet), notes
// and errors, each a line that starts with the tool's name.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "pack/core/error.h"

namespace vorlane {

class Report {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Report(bool quiet) : quiet_(quiet) {}

  /// A slow step has ended: one line with what it made and its time.
  void step(const std::string& what, Clock::time_point started) const;
  /// A fact about what was made, unless quiet.
  void info(const std::string& text) const;
  /// Something the packager should know even when quiet.
  void note(const std::string& text) const;
  /// Reports `error` and returns the exit status it calls for.
  int fail(const Error& error) const;
  /// The packer was interrupted; `state` says what is left. Returns the exit status.
  int stop(const std::string& state) const;

 private:
  bool quiet_;
};

/// "12.3 MB".
std::string megabytes(std::uintmax_t bytes);

}  // namespace vorlane
