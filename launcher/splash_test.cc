#include "launcher/splash.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

TEST(SplashPaths, Table) {
  EXPECT_EQ(splash_library_path("/opt/x/lib/app"),
            "/opt/x/lib/app/../runtime/lib/libsplashscreen.so");
  EXPECT_EQ(splash_library_path("/opt/x/lib/app/"),
            "/opt/x/lib/app/../runtime/lib/libsplashscreen.so");
}

TEST(SplashScale, Table) {
  const struct {
    const char *j2d, *gdk;
    int scale;
  } cases[] = {
      {nullptr, nullptr, 1}, {nullptr, "2", 2}, {"3", "2", 3},      {"1", "2", 1},
      {nullptr, "1", 1},     {nullptr, "0", 1}, {nullptr, "-2", 1}, {nullptr, "1.5", 1},
      {nullptr, "2x", 1},    {nullptr, "", 1},  {"", "2", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(splash_scale(c.j2d, c.gdk), c.scale)
        << (c.j2d ? c.j2d : "(unset)") << " " << (c.gdk ? c.gdk : "(unset)");
  }
  EXPECT_EQ(scaled_image_name("/a/s.png", 2), "/a/s@2x.png");
  EXPECT_EQ(scaled_image_name("/a/s.tar.png", 3), "/a/s.tar@3x.png");
  EXPECT_EQ(scaled_image_name("/a.d/s", 2), "/a.d/s@2x");
  EXPECT_EQ(scaled_image_name("s", 2), "s@2x");
}

TEST(ShowSplash, LeftOutWithoutImageOrLibrary) {
  // Any regular file passes the image check; the library's absence ends it.
  EXPECT_EQ(show_splash("/nonexistent/libsplashscreen.so", "/proc/self/exe", 1),
            SplashOutcome::kNoLibrary);
  // Checked before the library is looked at, so a bogus library is no matter.
  EXPECT_EQ(show_splash("/nonexistent/libsplashscreen.so", "/nonexistent/splash.png", 1),
            SplashOutcome::kNoImage);
  EXPECT_EQ(show_splash("/nonexistent/libsplashscreen.so", "", 1), SplashOutcome::kNoImage);
  EXPECT_EQ(show_splash("/nonexistent/libsplashscreen.so", "/", 2), SplashOutcome::kNoImage);
}

}  // namespace
}  // namespace vorlane
