#include "pack/image/splash_image.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vorlane {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

TEST(SplashImage, FormatByFirstBytesAndScaledVariantsByName) {
  const std::pair<std::string, const char*> formats[] = {
      {std::string("\x89PNG\r\n\x1a\n", 8), "png"},
      {"GIF89a", "gif"},
      {"GIF87a", "gif"},
      {"\xff\xd8\xff\xe1", "jpg"},
      {"BMxx", ""},
      {"\x89PNG", ""},
      {"GIF90a", ""},
      {"<svg", ""},
      {"", ""},
  };
  for (const auto& [head, ext] : formats) EXPECT_EQ(splash_image_extension(head), ext) << head;
  const struct {
    const char* image;
    const char* sibling;
    int scale;
  } names[] = {
      {"s.png", "s@2x.png", 2}, {"s.png", "s@12x.png", 12}, {"a.b.png", "a.b@3x.png", 3},
      {"s", "s@2x", 2},         {"s.png", "s@1x.png", 0},   {"s.png", "s@02x.png", 0},
      {"s.png", "s@x.png", 0},  {"s.png", "s@2x.gif", 0},   {"s.png", "s@2.png", 0},
      {"s.png", "t@2x.png", 0}, {"s.png", "s.png", 0},      {"s.png", "s@99999999999x.png", 0},
  };
  for (const auto& n : names) EXPECT_EQ(splash_scale_of(n.image, n.sibling), n.scale) << n.sibling;
}

}  // namespace
}  // namespace vorlane
