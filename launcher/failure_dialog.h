// Failures a desktop user sees: an app started from a menu has no terminal,
// so a launch that ends with status 1 also shows its message in a dialog
// (zenity, kdialog or xmessage, else a notification through notify-send) and
// appends it to the app's log, $XDG_STATE_HOME/NAME/launcher.log. Standard
// error gets what it always got; this only adds to it.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane {

/// The log beyond which an entry starts the log over (the old one is kept as
/// launcher.log.1), so a crashing app never fills the disk.
inline constexpr std::size_t kLogCap = std::size_t{256} * 1024;
/// The longest message a dialog shows or an entry records; more is cut.
inline constexpr std::size_t kDialogTextCap = 2000;
inline constexpr std::size_t kLogMessageCap = std::size_t{16} * 1024;
inline constexpr const char kLogName[] = "launcher.log";

/// Whether a failure is shown in a dialog: only for an app that is not a
/// console app, whose standard error is no terminal (no one would read it),
/// on a display (DISPLAY or WAYLAND_DISPLAY set and not empty; null: unset).
bool wants_dialog(bool console_app, bool stderr_is_terminal, const char* display,
                  const char* wayland_display);

/// wants_dialog for this process: its standard error and environment.
bool failure_dialog_wanted(bool console_app);

/// The programs that can show a failure, in the order they are tried.
enum class DialogTool { kZenity, kKdialog, kXmessage, kNotifySend };
inline constexpr DialogTool kDialogTools[] = {DialogTool::kZenity, DialogTool::kKdialog,
                                              DialogTool::kXmessage, DialogTool::kNotifySend};

/// The program's file name, as it is looked up on PATH.
const char* tool_name(DialogTool tool);

/// The command line that shows `title` and `text` with `tool` at `program`.
/// Every text is one argument of its own, never read as an option: zenity
/// and notify-send get them as `--opt=value` or after "--", and `text` never
/// starts with '-' (see dialog_text).
std::vector<std::string> dialog_argv(DialogTool tool, const std::string& program,
                                     const std::string& title, const std::string& text);

/// The first `DIR/name` of the `:`-separated `path` (null: unset) for which
/// `is_executable` holds. Empty and relative entries are skipped: they name
/// the working folder, which a file manager may have set to anyone's.
std::optional<std::string> find_in_path(
    const char* path, std::string_view name,
    const std::function<bool(const std::string&)>& is_executable);

/// The app's state folder: $XDG_STATE_HOME/NAME, or HOME/.local/state/NAME
/// when the variable is unset, empty or relative (the base directory rules
/// allow absolute paths only). Nullopt when neither gives an absolute path
/// or `app_name` is no usable file name.
std::optional<std::string> state_dir(const char* xdg_state_home, const char* home,
                                     std::string_view app_name);

/// The app's state folder for this process (state_dir of its environment),
/// made with mode 0700 where missing. A home that does not exist is never
/// made. Nullopt when there is none or it cannot be used.
std::optional<std::string> make_state_dir(const std::string& app_name);

/// `text` cut to at most `max` bytes, at a UTF-8 character boundary, with
/// "..." appended when it was cut.
std::string shorten(std::string_view text, std::size_t max);

/// The dialog's text: the message (cut to kDialogTextCap) and, when
/// `log_path` is not empty, a line naming the log. It never starts with '-'.
std::string dialog_text(std::string_view message, std::string_view log_path);

/// One log entry: "TIME TITLE" on a line, then the message (cut to
/// kLogMessageCap), ending with a newline.
std::string log_entry(std::string_view time, std::string_view title, std::string_view message);

/// Whether appending `entry_size` bytes to a log of `log_size` bytes must
/// start a new log first to stay within `cap`. A log that is empty always
/// takes the entry.
bool log_must_start_over(std::size_t log_size, std::size_t entry_size, std::size_t cap);

/// Appends an entry to the app's log, its folder made if missing. Returns
/// the log's path, or "" when it could not be written.
std::string append_to_app_log(const std::string& app_name, const std::string& title,
                              const char* message);

/// What a launch knows when it reports a failure.
struct FailureContext {
  bool console_app = false;
  std::string app_name;  ///< the executable's file name, bin/NAME
};

/// Appends the failure to the app's log (unless it is a console app) and,
/// where wants_dialog says so, starts the first dialog tool found on PATH
/// without waiting for it. `title` may be null: the app's name stands in.
/// Never ends the process and never fails: what cannot be done is left out.
void report_to_desktop(const FailureContext& context, const char* title, const char* message);

}  // namespace vorlane
