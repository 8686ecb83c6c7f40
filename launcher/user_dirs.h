// The folders a user's desktop gives each app: the base directory rules'
// XDG_*_HOME variables, else a folder under HOME.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vorlane {

/// XDG_HOME/NAME, or HOME/FALLBACK/NAME when `xdg_home` is unset, empty or
/// relative (the base directory rules allow absolute paths only). Nullopt
/// when neither gives an absolute path or `app_name` is no usable file name.
std::optional<std::string> user_app_dir(const char* xdg_home, const char* home,
                                        std::string_view fallback, std::string_view app_name);

}  // namespace vorlane
