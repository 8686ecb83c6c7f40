#include "pack/packages/icon.h"

#include <gtest/gtest.h>
#include <png.h>

#include <vector>

namespace vorlane::packages {
namespace {

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

/// A real PNG of w x h grey pixels, cut to `cut` bytes when given.
std::vector<std::uint8_t> png(std::uint32_t w, std::uint32_t h, std::size_t cut = 0) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = w;
  image.height = h;
  image.format = PNG_FORMAT_GRAY;
  std::vector<std::uint8_t> pixels(std::size_t{w} * h, 0x80);
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
  std::vector<std::uint8_t> out(size);
  png_image_write_to_memory(&image, out.data(), &size, 0, pixels.data(), 0, nullptr);
  out.resize(cut == 0 ? size : std::min<std::size_t>(cut, size));
  return out;
}

/// The signature and an image header that claims `w` x `h`, and nothing more.
std::vector<std::uint8_t> header_only(std::uint32_t w, std::uint32_t h) {
  std::vector<std::uint8_t> b = png(48, 48);
  for (int i = 0; i < 4; ++i) {
    b[16 + i] = static_cast<std::uint8_t>(w >> (24 - 8 * i));
    b[20 + i] = static_cast<std::uint8_t>(h >> (24 - 8 * i));
  }
  b.resize(33);
  return b;
}

TEST(Icon, DecodesPngsOfTheThemesSizesAndTellsSvgs) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> data;
    bool ok;
    IconKind kind;
    std::uint32_t width;
  };
  const std::vector<std::uint8_t> whole = png(64, 64);
  const Case cases[] = {
      {"48x48", png(48, 48), true, IconKind::kPng, 48},
      {"512x512", png(512, 512), true, IconKind::kPng, 512},
      {"1x1", png(1, 1), false, IconKind::kPng, 0},
      {"50x50, no theme size", png(50, 50), false, IconKind::kPng, 0},
      {"oblong", png(256, 128), false, IconKind::kPng, 0},
      {"cut short", png(64, 64, whole.size() - 20), false, IconKind::kPng, 0},
      {"header only, 10000x10000", header_only(10000, 10000), false, IconKind::kPng, 0},
      {"header only, 48x48", header_only(48, 48), false, IconKind::kPng, 0},
      {"svg", bytes("<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"/>"), true,
       IconKind::kSvg, 0},
      {"svg after a byte-order mark", bytes("\xEF\xBB\xBF  <svg/>"), true, IconKind::kSvg, 0},
      {"html", bytes("<html><body>no</body></html>"), false, IconKind::kSvg, 0},
      {"gif", bytes("GIF89a"), false, IconKind::kSvg, 0},
      {"empty", {}, false, IconKind::kSvg, 0},
  };
  for (const Case& c : cases) {
    const Result<IconInfo> icon = identify_icon(c.data);
    ASSERT_EQ(icon.ok(), c.ok) << c.what << ": " << (icon ? "" : icon.error().message);
    if (!icon) {
      EXPECT_EQ(icon.error().kind, ErrorKind::kBadInput) << c.what;
      continue;
    }
    EXPECT_EQ(icon->kind, c.kind) << c.what;
    EXPECT_EQ(icon->width, c.width) << c.what;
  }
}

}  // namespace
}  // namespace vorlane::packages
