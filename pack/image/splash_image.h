// The splash image `--splash` names: its format by its first bytes, and the
// scaled variants beside it by their names.
#pragma once

#include <string>
#include <string_view>

namespace vorlane {

/// The first 8 bytes of every PNG file.
inline constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);

/// The file name extension of the image that starts with `head` (its first
/// 8 bytes or fewer): "png", "gif" or "jpg", the formats the runtime's splash
/// library reads (it reads no BMP); "" for anything else.
std::string splash_image_extension(std::string_view head);

/// N when the file name `sibling` is NAME@<N>x.EXT for the splash image's
/// name `image` (NAME.EXT), N a whole number above 1: the variant the
/// launcher shows on a screen scaled N times. 0 for any other name.
int splash_scale_of(std::string_view image, std::string_view sibling);

}  // namespace vorlane
