#include "pack/core/report.h"

#include <cstdio>

namespace vorlane {

namespace {

void say(const std::string& text) {
  (void)std::fprintf(stderr, "vorlane-pack: %s%s", text.c_str(), text.ends_with('\n') ? "" : "\n");
}

}  // namespace

void Report::step(const std::string& what, Clock::time_point started) const {
  if (quiet_) return;
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  (void)std::fprintf(stderr, "vorlane-pack: %s (%.1f s)\n", what.c_str(), seconds);
}

void Report::info(const std::string& text) const {
  if (!quiet_) say(text);
}

void Report::note(const std::string& text) const { say("note: " + text); }

int Report::fail(const Error& error) const {
  say(error.message);
  return static_cast<int>(exit_status(error.kind));
}

int Report::stop(const std::string& state) const {
  say("interrupted; " + state);
  return static_cast<int>(ExitStatus::kInterrupted);
}

std::string megabytes(std::uintmax_t bytes) {
  char text[32];
  (void)std::snprintf(text, sizeof(text), "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

}  // namespace vorlane
