// JVM options a user keeps in a file, for an app started from a menu, where
// VORLANE_JVM_OPTIONS cannot be set: $XDG_CONFIG_HOME/NAME/jvm-options, one
// option a line, each checked against the launch data's allow-list.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane {

inline constexpr std::size_t kOptionsFileCap = std::size_t{64} * 1024;
inline constexpr std::size_t kOptionsLineCap = 4096;
inline constexpr const char kOptionsFileName[] = "jvm-options";

/// The file: $XDG_CONFIG_HOME/NAME/jvm-options, or
/// HOME/.config/NAME/jvm-options when the variable is unset, empty or
/// relative. Nullopt when neither gives an absolute path or `app_name` is
/// no usable file name.
std::optional<std::string> options_file_path(const char* xdg_config_home, const char* home,
                                             std::string_view app_name);

/// What a file's options come to.
struct OptionsFile {
  std::vector<std::string> accepted;  ///< in the file's order
  std::vector<std::string> notes;     ///< one line each, on what was left out
};

/// The options of the file at `path` whose contents are `text`: each line,
/// white space around it removed, is one option, never split further; empty
/// lines and lines starting with '#' are skipped. A line longer than
/// kOptionsLineCap, or one that starts with no `allowed` prefix, is left out
/// with a note. Text with a NUL or another control byte (but tab, CR, LF)
/// is no options file: all of it is left out with a note, as it is when
/// `allowed` is empty and the file has an option.
OptionsFile parse_options_file(std::string_view text, std::string_view path,
                               const std::vector<std::string>& allowed);

}  // namespace vorlane
