// vorlane-pack: packages an app into an installed tree behind the launcher,
// remakes its class-data archive, burns launch data into launcher copies and
// reads it back.

#include <cstdio>
#include <exception>

#include "pack/commands/cli.h"
#include "pack/core/error.h"

int main(int argc, char** argv) {
  try {
    return vorlane::run_command_line({argv + 1, argv + argc});
  } catch (const std::exception& e) {
    // Bad input is reported above; only a failure of the machine itself,
    // such as memory running out, gets here. Say so rather than abort.
    (void)std::fprintf(stderr, "vorlane-pack: %s\n", e.what());
  } catch (...) {
    (void)std::fprintf(stderr, "vorlane-pack: unexpected failure\n");
  }
  return static_cast<int>(vorlane::ExitStatus::kStepFailed);
}
