// The X display a training run shows its windows on: the packer's own, or a
// private Xvfb the packer starts for the run and stops after it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "pack/core/background_process.h"
#include "pack/core/error.h"

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

/// An entry of an X authority file (XAUTHORITY) that gives display
/// `number` ("" in the server's own file, which reads every entry) of any
/// host the MIT-MAGIC-COOKIE-1 `cookie`.
std::string xauthority_entry(const std::string& number, std::string_view cookie);

/// An Xvfb on a display number it picks itself (-displayfd), listening on no
/// TCP port and only to clients with its cookie, so another user of the
/// machine cannot reach the app on it; stopped when this goes, its
/// authority file removed.
class PrivateDisplay {
 public:
  /// Starts `xvfb` and waits, at most `timeout_seconds`, until it accepts clients.
  static Result<PrivateDisplay> start(const std::string& xvfb, int timeout_seconds);
  PrivateDisplay(PrivateDisplay&& other) noexcept;
  PrivateDisplay& operator=(PrivateDisplay&&) = delete;
  PrivateDisplay(const PrivateDisplay&) = delete;
  PrivateDisplay& operator=(const PrivateDisplay&) = delete;
  ~PrivateDisplay();

  /// ":N".
  const std::string& name() const { return name_; }
  /// The X authority file that holds its cookie, for XAUTHORITY.
  const std::string& authority() const { return authority_; }

 private:
  PrivateDisplay() = default;
  std::optional<BackgroundProcess> server_;
  std::string name_;
  std::string authority_;  ///< removed with this; "" once moved from
};

/// The display of one training run of the tree whose runtime is `runtime`,
/// from this process's DISPLAY and PATH.
struct TrainingDisplay {
  /// DISPLAY and XAUTHORITY for the run; nullopt leaves the packer's as they are.
  std::optional<std::string> display;
  std::optional<std::string> authority;
  /// Why the run has no display though it may need one ("" when it has one
  /// or needs none); then it does not run.
  std::string missing;
  /// The private server, when one runs for the run.
  std::optional<PrivateDisplay> server;
};
TrainingDisplay open_training_display(const std::string& runtime, int timeout_seconds);

}  // namespace vorlane
