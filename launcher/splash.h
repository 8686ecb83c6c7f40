// The splash screen: an image of the launch data's "-splash:" option, shown
// before the JVM starts through the runtime's own splash library, so that the
// app's java.awt.SplashScreen finds it, can draw on it and close it, and AWT
// closes it when the app's first window appears. The option's format is
// in formats/launch_options.h.
#pragma once

#include <string>
#include <string_view>

namespace vorlane {

/// The runtime's splash library for the app directory `app_dir` (lib/app of
/// the tree): app_dir/../runtime/lib/libsplashscreen.so.
std::string splash_library_path(std::string_view app_dir);

/// The screen's scale factor for a splash image: J2D_UISCALE's value, else
/// GDK_SCALE's (null when unset), if it is a whole number above 1; else 1.
int splash_scale(const char* j2d_uiscale, const char* gdk_scale);

/// The image drawn for `scale`: NAME@<scale>x.EXT for NAME.EXT, the suffix
/// at the end of a name without extension ("/a/s.png", 2: "/a/s@2x.png").
std::string scaled_image_name(std::string_view image, int scale);

enum class SplashOutcome {
  kShown,
  kNoImage,    ///< the image is no regular file
  kNoLibrary,  ///< the runtime has no usable splash library (no java.desktop, no X11 libraries)
  kNotShown,   ///< the library could not show it: no display, or no image it can read
};

/// A short phrase for `outcome`, for the VORLANE_DUMP_JVM_ARGS dump.
const char* describe(SplashOutcome outcome);

/// Shows `image` through the splash library at `library`, which must be
/// loaded into the process before the JVM is created (the JVM's own
/// java.awt.SplashScreen then binds to the same library and finds the splash).
/// With `scale` above 1, shows scaled_image_name(image, scale) instead where
/// that file exists. Never ends the launch: a splash that cannot be shown is
/// left out.
SplashOutcome show_splash(const std::string& library, const std::string& image, int scale);

}  // namespace vorlane
