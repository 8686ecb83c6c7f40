// The single-instance launch message: what a second launch of an app sends
// to the running one (its primary) over the Unix socket, and the one-byte
// answers they exchange. The sockets, the lock and the queue are the
// launcher's (launcher/single_instance.h); this is only the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane::formats {

/// The largest message the primary reads: more than any command line the
/// kernel lets through by default (ARG_MAX, 2 MiB), so no real launch is
/// refused, and small enough that a stray writer cannot run it out of memory.
inline constexpr std::uint32_t kMaxLaunchMessage = 4u * 1024 * 1024;

/// One launch handed over to the primary. Arguments, folder and tokens are
/// bytes as the second process had them.
struct ForwardedLaunch {
  std::vector<std::string> args;
  std::string working_directory;
  std::optional<std::string> activation_token;  ///< XDG_ACTIVATION_TOKEN
  std::optional<std::string> startup_id;        ///< DESKTOP_STARTUP_ID
  bool operator==(const ForwardedLaunch&) const = default;
};

/// The header's size: the magic "VLS1", then the body's size (4 bytes, little-endian).
inline constexpr std::size_t kLaunchHeaderSize = 8;
/// The primary's one-byte answer to a whole, well-formed launch.
inline constexpr char kLaunchAck = 'A';
/// The second launch's reply to it: only then does the primary queue the
/// launch, so one that gave up waiting is never delivered.
inline constexpr char kLaunchConfirm = 'C';
/// The primary's answer to a message it cannot read as a launch.
inline constexpr char kLaunchRefused = 'R';
/// The primary's answer to a well-formed launch its full queue has no room
/// for. A sender that knows only 'A' takes any other answer as a refusal.
inline constexpr char kLaunchQueueFull = 'F';

/// The whole message: header, then the body. The body holds, each string as
/// its 4-byte little-endian length and its bytes: the working directory; a
/// presence byte (0 or 1) and the activation token; the same for the startup
/// ID; the argument count and each argument.
std::string encode_launch(const ForwardedLaunch& launch);

/// The body size the header announces; nullopt for a wrong magic or a body
/// over kMaxLaunchMessage.
std::optional<std::uint32_t> launch_body_size(std::string_view header);

/// The launch in `body`; nullopt when it is cut short, has bytes left over, a
/// presence byte other than 0 or 1, or a count larger than the body holds.
std::optional<ForwardedLaunch> decode_launch_body(std::string_view body);

}  // namespace vorlane::formats
