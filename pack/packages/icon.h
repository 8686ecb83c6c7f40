// Telling what an icon file holds, from its bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vorlane::packages {

enum class IconKind { kPng, kSvg };

struct IconInfo {
  IconKind kind;
  std::uint32_t width = 0;  ///< PNG only
  std::uint32_t height = 0;
};

/// A PNG (signature and image header) or an SVG (an XML text with an <svg>
/// element near its start); nullopt and the reason for anything else.
std::optional<IconInfo> identify_icon(std::span<const std::uint8_t> bytes, std::string& error);

}  // namespace vorlane::packages
