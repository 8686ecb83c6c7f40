#include "launcher/option_expansion.h"

#include "launcher/class_path.h"

namespace vorlane {

namespace {

/// One marker pass: each `marker` ("=~/" or ":~/") keeps its first byte and
/// has its "~/" replaced by HOME + "/" when HOME is set and not empty.
void expand_marker(std::string& option, std::string_view marker, const HomeLookup& home) {
  std::size_t pos = 0;
  while ((pos = option.find(marker, pos)) != std::string::npos) {
    const char* value = home();
    if (value == nullptr || *value == '\0') {
      pos += marker.size();
      continue;
    }
    const std::string replacement = std::string(value) + "/";
    option.replace(pos + 1, 2, replacement);
    pos += 1 + replacement.size();
  }
}

}  // namespace

void replace_app_dir_token(std::string& option, std::string_view app_dir) {
  std::size_t pos = 0;
  while ((pos = option.find("&&", pos)) != std::string::npos) {
    option.replace(pos, 2, app_dir);
    pos += app_dir.size();
  }
}

void expand_home(std::string& option, const HomeLookup& home) {
  expand_marker(option, "=~/", home);
  expand_marker(option, ":~/", home);
  if (option.starts_with("~/")) {
    if (const char* value = home()) option.replace(0, 2, std::string(value) + "/");
  }
}

void expand_options(std::vector<std::string>& options, std::string_view app_dir,
                    const HomeLookup& home, const FileSystem& fs, std::FILE* dump) {
  for (std::size_t i = 0; i < options.size(); ++i) {
    std::string& option = options[i];
    replace_app_dir_token(option, app_dir);
    expand_home(option, home);
    expand_class_path(option, fs);
    if (dump != nullptr)
      std::fprintf(dump, "JVM arg %d: %s\n", static_cast<int>(i), option.c_str());
  }
}

}  // namespace vorlane
