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

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vorlane {

inline constexpr std::string_view kSingleInstanceOptionPrefix = "-Dvorlane.singleInstance=";

/// The largest message the primary reads: more than any command line the
/// kernel lets through by default (ARG_MAX, 2 MiB), so no real launch is
/// refused, and small enough that a stray writer cannot run it out of memory.
inline constexpr std::uint32_t kMaxLaunchMessage = 4u * 1024 * 1024;

/// How long a second launch waits for the primary to take its launch.
inline constexpr int kHandOverTimeoutMs = 5000;

/// How many connections the primary serves at once, each within its own
/// 2 s: idle or slow peers cannot hold up a real launch, and one over the
/// bound is closed at once (the second launch tries again) rather than
/// queued behind them. Bounds the messages being read to 16 x 4 MiB.
inline constexpr std::size_t kMaxServedConnections = 16;

/// The most launches, and bytes of their messages, the primary holds for an
/// app that has not taken them yet; a launch beyond either is refused, and
/// the second launch says so and exits 1. One launch of kMaxLaunchMessage
/// always fits into an empty queue.
inline constexpr std::size_t kMaxQueuedLaunches = 64;
inline constexpr std::size_t kMaxQueuedBytes = std::size_t{16} * 1024 * 1024;

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

/// Why the folder is unusable for what its parent (`parent`) allows ("" when
/// it is usable): nobody but `uid` and root may rename it, so the parent
/// belongs to one of them and is writable by no one else, or is sticky.
std::string parent_problem(const FolderFacts& parent, uid_t uid);

/// The primary's launches taken and not yet handed to the app, bounded in
/// count and bytes. Room is reserved before the primary acknowledges a
/// launch, so an acknowledged one is never dropped for want of room.
class LaunchQueue {
 public:
  LaunchQueue(std::size_t max_launches, std::size_t max_bytes)
      : max_launches_(max_launches), max_bytes_(max_bytes) {}

  /// Reserves room for one launch of `bytes`; false when it does not fit.
  bool reserve(std::size_t bytes);
  /// Gives back room reserved for a launch that did not come.
  void release(std::size_t bytes);
  /// Queues a launch into the room reserved for it with `bytes`.
  void push(ForwardedLaunch launch, std::size_t bytes);
  /// The oldest launch, waiting for one; frees its room.
  ForwardedLaunch pop();

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::pair<ForwardedLaunch, std::size_t>> launches_;
  const std::size_t max_launches_;
  const std::size_t max_bytes_;
  std::size_t count_ = 0;  ///< reserved or queued launches
  std::size_t bytes_ = 0;  ///< and their bytes
};

enum class InstanceRole {
  kPrimary,     ///< holds the lock and listens; the launch goes on
  kHandedOver,  ///< the primary took this launch; the process should exit 0
  kFailed,      ///< the lock is held, but the launch could not be handed over (no answer in time,
                ///< refused, queue full, a socket of another user)
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

}  // namespace vorlane
