#include "pack/packages/icon.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace vorlane::packages {
namespace {

std::uint32_t big_endian32(std::span<const std::uint8_t> b, std::size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
         std::uint32_t{b[at + 2]} << 8 | std::uint32_t{b[at + 3]};
}

}  // namespace

Result<IconInfo> identify_icon(std::span<const std::uint8_t> bytes) {
  static constexpr std::array<std::uint8_t, 8> kPngSignature = {0x89, 'P',  'N',  'G',
                                                                '\r', '\n', 0x1a, '\n'};
  if (bytes.size() >= kPngSignature.size() &&
      std::equal(kPngSignature.begin(), kPngSignature.end(), bytes.begin())) {
    // The first chunk is the 13-byte image header: width, height, ...
    if (bytes.size() < 33 || big_endian32(bytes, 8) != 13 ||
        std::string_view(reinterpret_cast<const char*>(bytes.data()) + 12, 4) != "IHDR") {
      return bad_input("is a PNG file cut short or without its image header");
    }
    IconInfo info{IconKind::kPng, big_endian32(bytes, 16), big_endian32(bytes, 20)};
    if (info.width == 0 || info.height == 0) {
      return bad_input("is a PNG image of no size");
    }
    return info;
  }
  const std::string_view head(reinterpret_cast<const char*>(bytes.data()),
                              std::min<std::size_t>(bytes.size(), 4096));
  const auto first = head.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  if (first != std::string_view::npos && head[first] == '<' &&
      head.find("<svg") != std::string_view::npos) {
    return IconInfo{IconKind::kSvg};
  }
  return bad_input("is neither a PNG nor an SVG image");
}

}  // namespace vorlane::packages
