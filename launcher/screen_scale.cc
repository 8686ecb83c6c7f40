#include "launcher/screen_scale.h"

#include <dlfcn.h>

#include <cstdint>
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

// The few types of libxcb's stable ABI that the read below passes by value
// or reads a field of; the launcher declares them itself, as it links
// nothing of X and builds without X headers.
namespace xcb {
struct Screen {
  std::uint32_t root;  // the first field of xcb_screen_t
};
struct ScreenIterator {
  Screen* data;
  int rem;
  int index;
};
struct Cookie {
  unsigned int sequence;
};
constexpr std::uint32_t kResourceManager = 23;  // XCB_ATOM_RESOURCE_MANAGER
constexpr std::uint32_t kString = 31;           // XCB_ATOM_STRING
/// The longest resource text read, in 4-byte units: 1 MiB.
constexpr std::uint32_t kMaxLength = 256U * 1024U;
}  // namespace xcb

std::optional<std::string> x_resources() {
  const char* display = std::getenv("DISPLAY");
  if (!is_set(display)) return std::nullopt;
  // Through libxcb rather than Xlib's XOpenDisplay: the connection's set-up
  // and one property request are two round trips to the server, where Xlib
  // makes about seven, each a wait for the server's process on a busy
  // machine. The library stays loaded: AWT loads it later through libX11,
  // and unloading it would run its destructors for nothing.
  void* lib = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
  if (lib == nullptr) return std::nullopt;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using GetSetup = const void* (*)(void*);
  using Roots = xcb::ScreenIterator (*)(const void*);
  using GetProperty = xcb::Cookie (*)(void*, std::uint8_t, std::uint32_t, std::uint32_t,
                                      std::uint32_t, std::uint32_t, std::uint32_t);
  using PropertyReply = void* (*)(void*, xcb::Cookie, void**);
  using Value = void* (*)(const void*);
  using ValueLength = int (*)(const void*);
  using Disconnect = void (*)(void*);
  const auto connect = reinterpret_cast<Connect>(dlsym(lib, "xcb_connect"));
  const auto has_error = reinterpret_cast<HasError>(dlsym(lib, "xcb_connection_has_error"));
  const auto get_setup = reinterpret_cast<GetSetup>(dlsym(lib, "xcb_get_setup"));
  const auto roots = reinterpret_cast<Roots>(dlsym(lib, "xcb_setup_roots_iterator"));
  const auto get_property = reinterpret_cast<GetProperty>(dlsym(lib, "xcb_get_property"));
  const auto property_reply = reinterpret_cast<PropertyReply>(dlsym(lib, "xcb_get_property_reply"));
  const auto value = reinterpret_cast<Value>(dlsym(lib, "xcb_get_property_value"));
  const auto value_length =
      reinterpret_cast<ValueLength>(dlsym(lib, "xcb_get_property_value_length"));
  const auto disconnect = reinterpret_cast<Disconnect>(dlsym(lib, "xcb_disconnect"));
  if (connect == nullptr || has_error == nullptr || get_setup == nullptr || roots == nullptr ||
      get_property == nullptr || property_reply == nullptr || value == nullptr ||
      value_length == nullptr || disconnect == nullptr) {
    return std::nullopt;
  }
  // A connection that failed is still an object, in an error state.
  void* connection = connect(display, nullptr);
  std::optional<std::string> text;
  if (connection != nullptr && has_error(connection) == 0) {
    // The resources of screen 0's root window, as XResourceManagerString
    // gives them.
    const xcb::ScreenIterator screens = roots(get_setup(connection));
    if (screens.rem > 0 && screens.data != nullptr) {
      const xcb::Cookie cookie =
          get_property(connection, 0, screens.data->root, xcb::kResourceManager, xcb::kString, 0,
                       xcb::kMaxLength);
      if (void* reply = property_reply(connection, cookie, nullptr)) {
        const int length = value_length(reply);
        if (length > 0)
          text.emplace(static_cast<const char*>(value(reply)), static_cast<std::size_t>(length));
        std::free(reply);  // NOLINT(cppcoreguidelines-no-malloc): libxcb's reply, malloc'd
      }
    }
  }
  if (connection != nullptr) disconnect(connection);
  return text;
}

}  // namespace vorlane
