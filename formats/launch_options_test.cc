#include "formats/launch_options.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace vorlane::formats {
namespace {

using namespace std::string_literals;

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

TEST(SplashOption, ImageIsTheTextAfterThePrefix) {
  EXPECT_EQ(splash_image("-splash:/opt/x/lib/app/s.png"), "/opt/x/lib/app/s.png");
  EXPECT_EQ(splash_image("-splash:"), "");
}

TEST(SingleInstanceId, Validity) {
  const struct {
    std::string id;
    bool valid;
  } cases[] = {
      {"notes", true},
      {"org.example.Notes-2_x", true},
      {std::string(128, 'a'), true},
      {"", false},
      {std::string(129, 'a'), false},
      {".", false},
      {"..", false},
      {"a/b", false},
      {"a b", false},
      {"gr\xC3\xBC", false},
      {"a\nb", false},
      {"a\0b"s, false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_valid_instance_id(c.id), c.valid) << c.id;
}

}  // namespace
}  // namespace vorlane::formats
