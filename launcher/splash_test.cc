#include "launcher/splash.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

TEST(TakeSplashOption, Table) {
  using List = std::vector<std::string>;
  const struct {
    List options;
    std::optional<std::string> taken;
    List rest;
  } cases[] = {
      {{}, std::nullopt, {}},
      {{"-Xmx1g", "-Da=b"}, std::nullopt, {"-Xmx1g", "-Da=b"}},
      {{"-splash:/a.png"}, "-splash:/a.png", {}},
      {{"-Xmx1g", "-splash:/a.png", "-Da=b"}, "-splash:/a.png", {"-Xmx1g", "-Da=b"}},
      // Only the first names the image; the later ones are no JVM options either.
      {{"-splash:/a.png", "-Dx", "-splash:/b.png", "-Dy"}, "-splash:/a.png", {"-Dx", "-Dy"}},
      {{"-splash:", "-splash:/b.png"}, "-splash:", {}},
      // Only a leading "-splash:" counts, and case matters.
      {{"-Dp=-splash:/a.png", "-SPLASH:/a.png", "-splash", " -splash:/a.png"},
       std::nullopt,
       {"-Dp=-splash:/a.png", "-SPLASH:/a.png", "-splash", " -splash:/a.png"}},
      // Empty options stay where they were.
      {{"", "-splash:/a.png", ""}, "-splash:/a.png", {"", ""}},
  };
  for (const auto& c : cases) {
    List options = c.options;
    EXPECT_EQ(take_splash_option(options), c.taken) << ::testing::PrintToString(c.options);
    EXPECT_EQ(options, c.rest) << ::testing::PrintToString(c.options);
  }
}

TEST(SplashPaths, Table) {
  EXPECT_EQ(splash_image("-splash:/opt/x/lib/app/s.png"), "/opt/x/lib/app/s.png");
  EXPECT_EQ(splash_image("-splash:"), "");
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
