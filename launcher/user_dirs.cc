#include "launcher/user_dirs.h"

namespace vorlane {

std::optional<std::string> user_app_dir(const char* xdg_home, const char* home,
                                        std::string_view fallback, std::string_view app_name) {
  if (app_name.empty() || app_name == "." || app_name == ".." ||
      app_name.find('/') != std::string_view::npos) {
    return std::nullopt;
  }
  std::string base;
  if (xdg_home != nullptr && xdg_home[0] == '/') {
    base = xdg_home;
  } else if (home != nullptr && home[0] == '/') {
    base = std::string(home) + "/" + std::string(fallback);
  } else {
    return std::nullopt;
  }
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base != "/") base += '/';
  base += app_name;
  return base;
}

}  // namespace vorlane
