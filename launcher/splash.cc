#include "launcher/splash.h"

#include <dlfcn.h>

#include <charconv>

#include "launcher/sys.h"

namespace vorlane {

std::string splash_library_path(std::string_view app_dir) {
  std::string path(app_dir);
  if (!path.ends_with('/')) path += '/';
  return path + "../runtime/lib/libsplashscreen.so";
}

int splash_scale(const char* j2d_uiscale, const char* gdk_scale) {
  const char* text = j2d_uiscale != nullptr ? j2d_uiscale : gdk_scale;
  if (text == nullptr) return 1;
  const std::string_view view(text);
  int scale = 1;
  const auto [end, error] = std::from_chars(view.data(), view.data() + view.size(), scale);
  return error == std::errc() && end == view.data() + view.size() && scale > 1 ? scale : 1;
}

std::string scaled_image_name(std::string_view image, int scale) {
  const std::size_t slash = image.rfind('/');
  const std::size_t dot = image.rfind('.');
  const std::size_t at =
      dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)
          ? dot
          : image.size();
  std::string name(image.substr(0, at));
  name += '@';
  name += std::to_string(scale);
  name += 'x';
  name += image.substr(at);
  return name;
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

SplashOutcome show_splash(const std::string& library, const std::string& image, int scale) {
  // Checked first, so that a tree without its image does not pay for loading
  // the library and the X11 client libraries behind it.
  if (!sys::is_regular_file(image)) return SplashOutcome::kNoImage;
  // Kept loaded for good: the JVM's java.awt.SplashScreen binds its natives to
  // this same library, which holds the splash's state. Global, because AWT
  // finds SplashClose among the process's global symbols when the app's first
  // window shows; loaded locally, the splash would stay on screen. Its
  // dependencies (libjvm.so among them) resolve through its own run path or
  // are already loaded: the launch loads libjvm.so before the splash.
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (handle == nullptr) return SplashOutcome::kNoLibrary;
  using SetFileJarName = void (*)(const char*, const char*);
  using Init = void (*)();
  using LoadFile = int (*)(const char*);
  using Close = void (*)();
  using SetScaleFactor = void (*)(float);
  const auto set_file_jar_name =
      reinterpret_cast<SetFileJarName>(dlsym(handle, "SplashSetFileJarName"));
  const auto init = reinterpret_cast<Init>(dlsym(handle, "SplashInit"));
  const auto load_file = reinterpret_cast<LoadFile>(dlsym(handle, "SplashLoadFile"));
  const auto close = reinterpret_cast<Close>(dlsym(handle, "SplashClose"));
  const auto set_scale_factor =
      reinterpret_cast<SetScaleFactor>(dlsym(handle, "SplashSetScaleFactor"));
  if (set_file_jar_name == nullptr || init == nullptr || load_file == nullptr || close == nullptr ||
      set_scale_factor == nullptr) {
    return SplashOutcome::kNoLibrary;
  }
  init();
  // On a scaled screen, an image drawn for that scale is shown instead, at
  // its size divided by the scale; SplashScreen reports the unscaled size.
  std::string file = image;
  if (scale > 1 && sys::is_regular_file(scaled_image_name(image, scale))) {
    file = scaled_image_name(image, scale);
    set_scale_factor(static_cast<float>(scale));
  }
  if (load_file(file.c_str()) != 0) {
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
