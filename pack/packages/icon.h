// Telling what an icon file holds, from its bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "pack/core/error.h"

namespace vorlane::packages {

enum class IconKind { kPng, kSvg };

struct IconInfo {
  IconKind kind = IconKind::kPng;
  std::uint32_t width = 0;  ///< PNG only
  std::uint32_t height = 0;
};

/// The square pixel sizes the hicolor icon theme indexes.
std::span<const int> theme_icon_sizes();

/// A PNG (decoded whole, square, of one of `theme_icon_sizes`) or an SVG (an XML text with an <svg>
/// element near its start); for anything else a bad-input error whose
/// message follows the file's name ("is neither ...").
Result<IconInfo> identify_icon(std::span<const std::uint8_t> bytes);

}  // namespace vorlane::packages
