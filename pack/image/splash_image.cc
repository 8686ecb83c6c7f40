#include "pack/image/splash_image.h"

#include <charconv>
#include <utility>

namespace vorlane {

std::string splash_image_extension(std::string_view head) {
  const std::pair<std::string_view, const char*> magic[] = {
      {kPngSignature, "png"},
      {"GIF87a", "gif"},
      {"GIF89a", "gif"},
      {"\xff\xd8\xff", "jpg"},
  };
  for (const auto& [bytes, format] : magic) {
    if (head.starts_with(bytes)) return format;
  }
  return "";
}

int splash_scale_of(std::string_view image, std::string_view sibling) {
  const std::size_t dot = image.rfind('.');
  const std::string_view stem = image.substr(0, dot);
  const std::string_view ext = dot == std::string_view::npos ? "" : image.substr(dot);
  if (sibling.size() <= stem.size() + 2 + ext.size() || !sibling.starts_with(stem) ||
      sibling[stem.size()] != '@' || !sibling.ends_with(ext)) {
    return 0;
  }
  std::string_view digits = sibling.substr(stem.size() + 1);
  digits.remove_suffix(ext.size());
  if (!digits.ends_with('x')) return 0;
  digits.remove_suffix(1);
  // The launcher writes the scale as a plain number: 2, never 02.
  int scale = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), scale);
  if (ec != std::errc() || end != digits.data() + digits.size() || digits.starts_with('0')) {
    return 0;
  }
  return scale > 1 ? scale : 0;
}

}  // namespace vorlane
