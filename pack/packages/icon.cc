#include "pack/packages/icon.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

#include "pack/image/splash_image.h"

namespace vorlane::packages {
namespace {

std::uint32_t big_endian32(std::span<const std::uint8_t> b, std::size_t at) {
  return std::uint32_t{b[at]} << 24 | std::uint32_t{b[at + 1]} << 16 |
         std::uint32_t{b[at + 2]} << 8 | std::uint32_t{b[at + 3]};
}

/// Decodes the whole image, so that a file cut short or with a broken
/// chunk is refused, not shipped; the error names libpng's reason.
Status decode_png(std::span<const std::uint8_t> bytes) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()) == 0) {
    return bad_input(std::string("is no PNG image libpng can read: ") + image.message);
  }
  image.format = PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) == 0) {
    const std::string why = image.message;
    png_image_free(&image);
    return bad_input("is a PNG image that does not decode: " + why);
  }
  return done();
}

}  // namespace

std::span<const int> theme_icon_sizes() {
  static constexpr int kSizes[] = {16, 22, 24, 32, 36, 48, 64, 72, 96, 128, 192, 256, 512};
  return kSizes;
}

Result<IconInfo> identify_icon(std::span<const std::uint8_t> bytes) {
  const std::string_view all(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (all.starts_with(kPngSignature)) {
    // The first chunk is the 13-byte image header: width, height, ...
    if (bytes.size() < 33 || big_endian32(bytes, 8) != 13 ||
        std::string_view(reinterpret_cast<const char*>(bytes.data()) + 12, 4) != "IHDR") {
      return bad_input("is a PNG file cut short or without its image header");
    }
    IconInfo info{IconKind::kPng, big_endian32(bytes, 16), big_endian32(bytes, 20)};
    if (info.width == 0 || info.height == 0) {
      return bad_input("is a PNG image of no size");
    }
    const auto sizes = theme_icon_sizes();
    if (info.width != info.height ||
        std::find(sizes.begin(), sizes.end(), static_cast<int>(info.width)) == sizes.end()) {
      std::string list;
      for (int s : sizes) list += (list.empty() ? "" : ", ") + std::to_string(s);
      return bad_input("is " + std::to_string(info.width) + "x" + std::to_string(info.height) +
                       ": the icon theme has square sizes " + list + " only");
    }
    if (Status decoded = decode_png(bytes); !decoded) return decoded.error();
    return info;
  }
  const std::string_view head = all.substr(0, 4096);
  const auto first = head.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
  if (first != std::string_view::npos && head[first] == '<' &&
      head.find("<svg") != std::string_view::npos) {
    return IconInfo{IconKind::kSvg};
  }
  return bad_input("is neither a PNG nor an SVG image");
}

}  // namespace vorlane::packages
