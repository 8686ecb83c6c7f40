#include "formats/launch_options.h"

#include <algorithm>

namespace vorlane::formats {

std::optional<std::string> take_splash_option(std::vector<std::string>& options) {
  const auto is_splash = [](const std::string& option) {
    return option.starts_with(kSplashOptionPrefix);
  };
  const auto first = std::find_if(options.begin(), options.end(), is_splash);
  if (first == options.end()) return std::nullopt;
  std::string taken = *first;
  std::erase_if(options, is_splash);
  return taken;
}

std::string_view splash_image(std::string_view option) {
  return option.substr(std::min(option.size(), kSplashOptionPrefix.size()));
}

std::optional<std::string> single_instance_id(const std::vector<std::string>& options) {
  for (const std::string& option : options) {
    if (option.starts_with(kSingleInstanceOptionPrefix)) {
      return option.substr(kSingleInstanceOptionPrefix.size());
    }
  }
  return std::nullopt;
}

bool is_valid_instance_id(std::string_view id) {
  if (id.empty() || id.size() > 128 || id == "." || id == "..") return false;
  for (const char c : id) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace vorlane::formats
