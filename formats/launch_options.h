// The JVM options of the launch data that the launcher acts on itself
// instead of handing them to the JVM: the splash screen's image and the
// single-instance ID. The packer writes them, the launcher reads them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane::formats {

inline constexpr std::string_view kSplashOptionPrefix = "-splash:";

/// Takes every option that starts with "-splash:" out of `options`, keeping
/// all others in their order, and returns the first of them whole; nullopt
/// when there is none. The later ones are dropped: the JVM knows no such
/// option, and only the first names the image.
std::optional<std::string> take_splash_option(std::vector<std::string>& options);

/// The image a "-splash:" option names: the text after the prefix.
std::string_view splash_image(std::string_view option);

inline constexpr std::string_view kSingleInstanceOptionPrefix = "-Dvorlane.singleInstance=";

/// The first option's ID, when one of `options` starts with the prefix.
std::optional<std::string> single_instance_id(const std::vector<std::string>& options);

/// Whether `id` is 1 to 128 letters, digits, '.', '-' and '_', not "." or "..".
bool is_valid_instance_id(std::string_view id);

}  // namespace vorlane::formats
