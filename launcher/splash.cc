#include "launcher/splash.h"

#include <dlfcn.h>

#include <algorithm>

#include "launcher/sys.h"

namespace vorlane {

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

std::string splash_library_path(std::string_view app_dir) {
  std::string path(app_dir);
  if (!path.ends_with('/')) path += '/';
  return path + "../runtime/lib/libsplashscreen.so";
}

const char* describe(SplashOutcome outcome) {
  switch (outcome) {
    case SplashOutcome::kShown:
      return "shown";
    case SplashOutcome::kNoImage:
      return "not found, no splash screen";
    case SplashOutcome::kNoLibrary:
      return "the runtime has no usable splash library, no splash screen";
    case SplashOutcome::kNotShown:
      return "could not be shown (no display, or not an image), no splash screen";
  }
  return "";
}

SplashOutcome show_splash(const std::string& library, const std::string& image) {
  // Checked first, so that a tree without its image does not pay for loading
  // the library and the X11 client libraries behind it.
  if (!sys::is_regular_file(image)) return SplashOutcome::kNoImage;
  // Kept loaded for good: the JVM's java.awt.SplashScreen binds its natives to
  // this same library, which holds the splash's state. Global, because AWT
  // finds SplashClose among the process's global symbols when the app's first
  // window shows; loaded locally, the splash would stay on screen. Its
  // dependencies (libjvm.so among them) resolve through its own run path or
  // are already loaded, as the launcher links libjvm.so.
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (handle == nullptr) return SplashOutcome::kNoLibrary;
  using SetFileJarName = void (*)(const char*, const char*);
  using Init = void (*)();
  using LoadFile = int (*)(const char*);
  using Close = void (*)();
  const auto set_file_jar_name =
      reinterpret_cast<SetFileJarName>(dlsym(handle, "SplashSetFileJarName"));
  const auto init = reinterpret_cast<Init>(dlsym(handle, "SplashInit"));
  const auto load_file = reinterpret_cast<LoadFile>(dlsym(handle, "SplashLoadFile"));
  const auto close = reinterpret_cast<Close>(dlsym(handle, "SplashClose"));
  if (set_file_jar_name == nullptr || init == nullptr || load_file == nullptr || close == nullptr) {
    return SplashOutcome::kNoLibrary;
  }
  init();
  if (load_file(image.c_str()) != 0) {
    // The name SplashScreen.getImageURL() reports (no jar holds the image);
    // given after loading, as loading forgets a name given before.
    set_file_jar_name(image.c_str(), nullptr);
    return SplashOutcome::kShown;
  }
  // Leaves no half-made splash behind for SplashScreen.getSplashScreen().
  close();
  return SplashOutcome::kNotShown;
}

}  // namespace vorlane
