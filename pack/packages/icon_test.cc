#include "pack/packages/icon.h"

#include <gtest/gtest.h>

#include <vector>

namespace vorlane::packages {
namespace {

std::vector<std::uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<std::uint8_t> png(std::uint32_t w, std::uint32_t h, std::size_t cut = 64) {
  std::vector<std::uint8_t> b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                 0,    0,   0,   13,  'I',  'H',  'D',  'R'};
  for (std::uint32_t v : {w, h}) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
  }
  b.resize(33, 0);
  b.resize(std::min(b.size(), cut));
  return b;
}

TEST(Icon, TellsPngFromSvgFromAnythingElse) {
  struct Case {
    std::vector<std::uint8_t> data;
    bool ok;
    IconKind kind;
    std::uint32_t width;
  };
  const Case cases[] = {
      {png(48, 48), true, IconKind::kPng, 48},
      {png(256, 128), true, IconKind::kPng, 256},
      {png(48, 48, 20), false, IconKind::kPng, 0},
      {png(0, 0), false, IconKind::kPng, 0},
      {bytes("<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\"/>"), true,
       IconKind::kSvg, 0},
      {bytes("\xEF\xBB\xBF  <svg/>"), true, IconKind::kSvg, 0},
      {bytes("<html><body>no</body></html>"), false, IconKind::kSvg, 0},
      {bytes("GIF89a"), false, IconKind::kSvg, 0},
      {{}, false, IconKind::kSvg, 0},
  };
  for (const Case& c : cases) {
    const Result<IconInfo> icon = identify_icon(c.data);
    ASSERT_EQ(icon.ok(), c.ok);
    if (!icon) {
      EXPECT_FALSE(icon.error().message.empty());
      continue;
    }
    EXPECT_EQ(icon->kind, c.kind);
    EXPECT_EQ(icon->width, c.width);
  }
}

}  // namespace
}  // namespace vorlane::packages
