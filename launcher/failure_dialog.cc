#include "launcher/failure_dialog.h"

#include <cstdlib>

#include "launcher/sys.h"
#include "launcher/user_dirs.h"

namespace vorlane {

namespace {

bool is_set(const char* value) { return value != nullptr && *value != '\0'; }

/// Whether `byte` continues a UTF-8 sequence rather than starting one.
bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

bool wants_dialog(bool console_app, bool stderr_is_terminal, const char* display,
                  const char* wayland_display) {
  return !console_app && !stderr_is_terminal && (is_set(display) || is_set(wayland_display));
}

bool failure_dialog_wanted(bool console_app) {
  return wants_dialog(console_app, sys::is_terminal(2), std::getenv("DISPLAY"),
                      std::getenv("WAYLAND_DISPLAY"));
}

const char* tool_name(DialogTool tool) {
  switch (tool) {
    case DialogTool::kZenity:
      return "zenity";
    case DialogTool::kKdialog:
      return "kdialog";
    case DialogTool::kXmessage:
      return "xmessage";
    case DialogTool::kNotifySend:
      return "notify-send";
  }
  return "";
}

std::vector<std::string> dialog_argv(DialogTool tool, const std::string& program,
                                     const std::string& title, const std::string& text) {
  switch (tool) {
    case DialogTool::kZenity:
      // Without --no-markup, a '<' or '&' in an exception's message would be
      // read as markup, and a malformed one shows an empty dialog.
      return {program, "--error", "--no-markup", "--title=" + title, "--text=" + text};
    case DialogTool::kKdialog:
      return {program, "--title=" + title, "--error=" + text};
    case DialogTool::kXmessage:
      // The title is an option's value; the text is the one operand.
      return {program, "-title", title, "-center", "-buttons", "OK", text};
    case DialogTool::kNotifySend:
      return {program, "--urgency=critical", "--", title, text};
  }
  return {};
}

std::optional<std::string> find_in_path(
    const char* path, std::string_view name,
    const std::function<bool(const std::string&)>& is_executable) {
  if (path == nullptr) return std::nullopt;
  std::string_view rest = path;
  while (true) {
    const std::size_t colon = rest.find(':');
    const std::string_view dir = rest.substr(0, colon);
    if (!dir.empty() && dir.front() == '/') {
      std::string candidate(dir);
      if (candidate.back() != '/') candidate += '/';
      candidate += name;
      if (is_executable(candidate)) return candidate;
    }
    if (colon == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(colon + 1);
  }
}

std::optional<std::string> state_dir(const char* xdg_state_home, const char* home,
                                     std::string_view app_name) {
  return user_app_dir(xdg_state_home, home, ".local/state", app_name);
}

std::string shorten(std::string_view text, std::size_t max) {
  if (text.size() <= max) return std::string(text);
  std::size_t end = max;
  while (end > 0 && is_continuation(text[end])) --end;
  std::string cut(text.substr(0, end));
  cut += "...";
  return cut;
}

std::string dialog_text(std::string_view message, std::string_view log_path) {
  std::string text = shorten(message, kDialogTextCap);
  // What the JVM printed ends with a newline; the log line follows one empty line.
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  // A leading '-' or '+' would make xmessage's toolkit read the text as an
  // option; a space in front keeps it text.
  // (A new string rather than insert(0, ...): GCC 12 at -O3 warns of an
  // overlapping copy in the inlined insert.)
  if (text.empty() || text.front() == '-' || text.front() == '+') text = ' ' + text;
  if (!log_path.empty()) {
    text += "\n\nThis is also written to ";
    text += log_path;
    text += '.';
  }
  return text;
}

std::string log_entry(std::string_view time, std::string_view title, std::string_view message) {
  std::string entry(time);
  entry += ' ';
  entry += title;
  entry += '\n';
  entry += shorten(message, kLogMessageCap);
  if (entry.back() != '\n') entry += '\n';
  return entry;
}

bool log_must_start_over(std::size_t log_size, std::size_t entry_size, std::size_t cap) {
  return log_size > 0 && (log_size > cap || entry_size > cap - log_size);
}

std::optional<std::string> make_state_dir(const std::string& app_name) {
  const char* xdg_state_home = std::getenv("XDG_STATE_HOME");
  const char* home = std::getenv("HOME");
  std::optional<std::string> dir = state_dir(xdg_state_home, home, app_name);
  if (!dir) return std::nullopt;
  const bool under_home = xdg_state_home == nullptr || xdg_state_home[0] != '/';
  if (under_home && !sys::is_directory(home)) return std::nullopt;
  if (sys::make_private_dirs(*dir) != 0) return std::nullopt;
  return dir;
}

std::string append_to_app_log(const std::string& app_name, const std::string& title,
                              const char* message) {
  const std::optional<std::string> dir = make_state_dir(app_name);
  if (!dir) return "";
  const std::string entry = log_entry(sys::utc_time_text(), title, message);
  const auto start_over = [&](std::size_t size) {
    return log_must_start_over(size, entry.size(), kLogCap);
  };
  if (sys::append_to_log(*dir, kLogName, entry, start_over) != 0) return "";
  return *dir + "/" + kLogName;
}

void report_to_desktop(const FailureContext& context, const char* title, const char* message) {
  const std::string shown_title = title != nullptr ? title : context.app_name;
  const std::string log_path =
      context.console_app ? "" : append_to_app_log(context.app_name, shown_title, message);
  if (!failure_dialog_wanted(context.console_app)) return;
  const std::string text = dialog_text(message, log_path);
  for (const DialogTool tool : kDialogTools) {
    const std::optional<std::string> program =
        find_in_path(std::getenv("PATH"), tool_name(tool), sys::is_executable_file);
    if (!program) continue;
    if (sys::spawn_detached(dialog_argv(tool, *program, shown_title, text)) == 0) return;
  }
}

}  // namespace vorlane
