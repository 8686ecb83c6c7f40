#include "formats/option_expansion.h"

#include "formats/class_path.h"

namespace vorlane::formats {

namespace {

// Both passes build the new text in a string of their own, copying the
// original between the references. Replacing in place moved all the rest of
// the option at every reference: an option of 2 MB of "&&" (a command record)
// took seconds to expand.

/// One marker pass: each `marker` ("=~/" or ":~/") keeps its first byte and
/// has its "~/" replaced by HOME + "/" when HOME is set and not empty. The
/// search goes on after each marker in the original text, so text that HOME
/// brings in is not searched by the same pass.
void expand_marker(std::string& option, std::string_view marker, const HomeLookup& home) {
  std::string expanded;
  std::size_t copied = 0;
  for (std::size_t at = option.find(marker); at != std::string::npos;
       at = option.find(marker, at + marker.size())) {
    const char* value = home();
    if (value == nullptr || *value == '\0') continue;
    expanded.append(option, copied, at + 1 - copied);
    expanded += value;
    expanded += '/';
    copied = at + marker.size();
  }
  if (copied == 0) return;
  expanded.append(option, copied);
  option = std::move(expanded);
}

}  // namespace

void replace_app_dir_token(std::string& option, std::string_view app_dir) {
  std::string replaced;
  std::size_t copied = 0;
  for (std::size_t at = option.find("&&"); at != std::string::npos;
       at = option.find("&&", at + 2)) {
    replaced.append(option, copied, at - copied);
    replaced += app_dir;
    copied = at + 2;
  }
  if (copied == 0) return;
  replaced.append(option, copied);
  option = std::move(replaced);
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
    if (dump != nullptr) {
      (void)std::fprintf(dump, "JVM arg %d: %s\n", static_cast<int>(i), option.c_str());
    }
  }
}

}  // namespace vorlane::formats
