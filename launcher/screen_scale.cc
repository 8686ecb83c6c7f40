#include "launcher/screen_scale.h"

#include <dlfcn.h>

#include <cstdlib>

namespace vorlane {

namespace {

constexpr double kBaseDpi = 96.0;

bool is_set(const char* value) { return value != nullptr && *value != '\0'; }

/// `text` as DIGITS[.DIGITS] above 0, or nothing. By hand rather than with
/// from_chars: the C++ runtime's floating-point parsing needs libm
/// (fesetround), which the template does not link.
std::optional<double> decimal(std::string_view text) {
  double value = 0;
  double scale = 1;
  bool point = false;
  bool digits = false;
  for (const char c : text) {
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      digits = true;
      if (point) {
        scale /= 10;
        value += (c - '0') * scale;
      } else if (value < 1e9) {
        value = value * 10 + (c - '0');
      } else {
        return std::nullopt;
      }
    } else {
      return std::nullopt;
    }
  }
  if (!digits || !(value > 0)) return std::nullopt;
  return value;
}

}  // namespace

bool scale_is_set(const std::vector<std::string>& options, const char* gdk_scale,
                  const char* j2d_uiscale) {
  if (is_set(gdk_scale) || is_set(j2d_uiscale)) return true;
  for (const std::string& option : options) {
    if (option.starts_with("-Dsun.java2d.uiScale=") ||
        option.starts_with("-Dsun.java2d.uiScale.enabled=")) {
      return true;
    }
  }
  return false;
}

std::optional<double> xft_dpi(std::string_view resources) {
  constexpr std::string_view kName = "Xft.dpi:";
  while (!resources.empty()) {
    const std::size_t end = std::min(resources.find('\n'), resources.size());
    std::string_view line = resources.substr(0, end);
    resources.remove_prefix(std::min(end + 1, resources.size()));
    if (!line.starts_with(kName)) continue;
    line.remove_prefix(kName.size());
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    return decimal(line);
  }
  return std::nullopt;
}

std::vector<std::string> scale_options(double dpi) {
  std::vector<std::string> options;
  const double factor = dpi / kBaseDpi;
  if (factor >= 3) {
    options.emplace_back("-Dsun.java2d.uiScale=3");
  } else if (factor >= 2) {
    options.emplace_back("-Dsun.java2d.uiScale=2");
  }
  // Rounded by hand, not with lround: the template links no libm (the
  // glibc it is linked against keeps lround there). The bound keeps an
  // absurd dpi from overflowing the conversion.
  const double scaled = factor * 100 + 0.5;
  const long hundredths = scaled >= 1e6 ? 1000000 : static_cast<long>(scaled);
  if (hundredths > 100) {
    std::string text = std::to_string(hundredths / 100);
    if (const long fraction = hundredths % 100; fraction != 0) {
      text += '.';
      text += static_cast<char>('0' + fraction / 10);
      if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
    }
    options.push_back("-Dvorlane.uiScale=" + text);
  }
  return options;
}

std::optional<std::string> x_resources() {
  const char* display = std::getenv("DISPLAY");
  if (!is_set(display)) return std::nullopt;
  // libX11 stays loaded: AWT loads the same library later, and unloading it
  // would run its destructors for nothing.
  void* x11 = dlopen("libX11.so.6", RTLD_LAZY | RTLD_LOCAL);
  if (x11 == nullptr) return std::nullopt;
  using Open = void* (*)(const char*);
  using Resources = char* (*)(void*);
  using Close = int (*)(void*);
  const auto open = reinterpret_cast<Open>(dlsym(x11, "XOpenDisplay"));
  const auto resources = reinterpret_cast<Resources>(dlsym(x11, "XResourceManagerString"));
  const auto close = reinterpret_cast<Close>(dlsym(x11, "XCloseDisplay"));
  if (open == nullptr || resources == nullptr || close == nullptr) return std::nullopt;
  void* connection = open(display);
  if (connection == nullptr) return std::nullopt;
  std::optional<std::string> text;
  if (const char* value = resources(connection)) text = value;
  close(connection);
  return text;
}

}  // namespace vorlane
