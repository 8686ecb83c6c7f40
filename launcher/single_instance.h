// Single instance: an app whose launch data holds -Dvorlane.singleInstance=ID
// runs once per user. Before the JVM exists, the launcher takes an exclusive
// lock on ID.lock in the user's private folder. The launch that gets it is
// the primary: it listens on ID.sock there, on a thread of its own, and
// queues each launch handed over until the Java side takes it. A launch that
// finds the lock held sends its arguments, working directory and activation
// token to the primary, waits for its acknowledgement, and ends without a
// JVM.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vorlane {

inline constexpr std::string_view kSingleInstanceOptionPrefix = "-Dvorlane.singleInstance=";

/// The largest message the primary reads: more than any command line the
/// kernel lets through by default (ARG_MAX, 2 MiB), so no real launch is
/// refused, and small enough that a stray writer cannot run it out of memory.
inline constexpr std::uint32_t kMaxLaunchMessage = 4u * 1024 * 1024;

/// How long a second launch waits for the primary to take its launch.
inline constexpr int kHandOverTimeoutMs = 5000;

/// The first option's ID, when one of `options` starts with the prefix.
std::optional<std::string> single_instance_id(const std::vector<std::string>& options);

/// Whether `id` is 1 to 128 letters, digits, '.', '-' and '_', not "." or "..".
bool is_valid_instance_id(std::string_view id);

/// One launch handed over to the primary. Arguments, folder and tokens are
/// bytes as the second process had them.
struct ForwardedLaunch {
  std::vector<std::string> args;
  std::string working_directory;
  std::optional<std::string> activation_token;  ///< XDG_ACTIVATION_TOKEN
  std::optional<std::string> startup_id;        ///< DESKTOP_STARTUP_ID
  bool operator==(const ForwardedLaunch&) const = default;
};

/// This process's launch: `args`, the working directory ("" when it is
/// gone), XDG_ACTIVATION_TOKEN and DESKTOP_STARTUP_ID.
ForwardedLaunch this_launch(std::span<const char* const> args);

/// The header's size: the magic "VLS1", then the body's size (4 bytes, little-endian).
inline constexpr std::size_t kLaunchHeaderSize = 8;
/// The primary's one-byte answer to a whole, well-formed launch.
inline constexpr char kLaunchAck = 'A';
/// The second launch's reply to it: only then does the primary queue the
/// launch, so one that gave up waiting is never delivered.
inline constexpr char kLaunchConfirm = 'C';

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

/// The folder the lock and socket go in: $XDG_RUNTIME_DIR/vorlane when that
/// variable is an absolute path, else /tmp/vorlane-UID.
std::string instance_folder(const char* xdg_runtime_dir, uid_t uid);

/// What lstat/fstat says about the folder.
struct FolderFacts {
  bool is_directory = false;
  bool is_link = false;
  uid_t owner = 0;
  mode_t mode = 0;
};

/// Why the folder cannot hold the lock and socket ("" when it can): it must
/// be a directory, no link, owned by `uid`, with no access for group or others.
std::string folder_problem(const FolderFacts& facts, uid_t uid);

enum class InstanceRole {
  kPrimary,     ///< holds the lock and listens; the launch goes on
  kHandedOver,  ///< the primary took this launch; the process should exit 0
  kFailed,      ///< the lock is held, but the launch could not be handed over (no answer in time,
                ///< refused)
  kOff,         ///< single instance cannot be used here; the launch goes on without it
};

struct InstanceClaim {
  InstanceRole role = InstanceRole::kOff;
  /// The socket's path (primary), or why it is off, or what went wrong.
  std::string detail;
};

/// Takes the lock, or hands `launch` over to the one who holds it, waiting
/// at most `timeout_ms` for the socket and the acknowledgement. A primary
/// keeps the lock for the life of the process and starts its listening
/// thread, so launches queue from now on.
InstanceClaim claim_instance(const std::string& id, const ForwardedLaunch& launch, int timeout_ms);

/// True once this process is the primary.
bool is_instance_primary();

/// The next queued launch, waiting for one. Only for the primary.
ForwardedLaunch next_forwarded_launch();

/// The primary's handling of one connection: reads the message within
/// `timeout_ms`, answers it, and queues it once the sender confirms. Returns
/// why it did not queue it, or "" after queueing it.
std::string serve_connection(int fd, int timeout_ms);

}  // namespace vorlane
