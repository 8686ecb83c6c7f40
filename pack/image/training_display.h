// The X display a training run shows its windows on: the packer's own, or a
// private Xvfb the packer starts for the run and stops after it.
#pragma once

#include <optional>
#include <string>

#include "pack/core/error.h"
#include "pack/core/process.h"

namespace vorlane {

enum class DisplaySource {
  kNotNeeded,    ///< the runtime has no AWT: the run opens no window
  kInherited,    ///< the packer's DISPLAY
  kPrivateXvfb,  ///< an Xvfb started for the run
  kNone,         ///< no DISPLAY and no Xvfb: no training run
};

/// Where a training run of a tree gets its display. `display` is the
/// packer's DISPLAY (unset or empty: none), `xvfb` the path of Xvfb ("" when
/// there is none).
DisplaySource choose_training_display(bool runtime_has_awt,
                                      const std::optional<std::string>& display,
                                      const std::string& xvfb);

/// An Xvfb on a display number it picks itself (-displayfd), listening on no
/// TCP port; stopped when this goes.
class PrivateDisplay {
 public:
  /// Starts `xvfb` and waits, at most `timeout_seconds`, until it accepts clients.
  static Result<PrivateDisplay> start(const std::string& xvfb, int timeout_seconds);
  /// ":N".
  const std::string& name() const { return name_; }

 private:
  PrivateDisplay(BackgroundProcess server, std::string name)
      : server_(std::move(server)), name_(std::move(name)) {}
  BackgroundProcess server_;
  std::string name_;
};

/// The display of one training run of the tree whose runtime is `runtime`,
/// from this process's DISPLAY and PATH.
struct TrainingDisplay {
  /// DISPLAY for the run; nullopt leaves the packer's as it is.
  std::optional<std::string> display;
  /// Why the run has no display though it may need one ("" when it has one
  /// or needs none); then it does not run.
  std::string missing;
  /// The private server, when one runs for the run.
  std::optional<PrivateDisplay> server;
};
TrainingDisplay open_training_display(const std::string& runtime, int timeout_seconds);

}  // namespace vorlane
