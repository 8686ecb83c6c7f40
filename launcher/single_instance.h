// Single instance: an app whose launch data holds -Dvorlane.singleInstance=ID
// runs once per user. Before the JVM exists, the launcher takes an exclusive
// lock on ID.lock in the user's private folder. The launch that gets it is
// the primary: it listens on ID.sock there, on a thread of its own, and
// queues each launch handed over until the Java side takes it. A launch that
// finds the lock held sends its arguments, working directory and activation
// token to the primary, waits for its acknowledgement, and ends without a
// JVM.
//
// The pieces: the option and the message's bytes (formats/launch_options.h,
// formats/launch_message.h), the folder's rules (instance_folder.h), the
// socket and hand-over (instance_socket.h), the primary's thread
// (instance_server.h) and its queue (launch_queue.h).
#pragma once

#include <span>
#include <string>

#include "formats/launch_message.h"

namespace vorlane {

/// How long a second launch waits for the primary to take its launch.
inline constexpr int kHandOverTimeoutMs = 5000;

/// This process's launch: `args`, the working directory ("" when it is
/// gone), XDG_ACTIVATION_TOKEN and DESKTOP_STARTUP_ID.
formats::ForwardedLaunch this_launch(std::span<const char* const> args);

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
InstanceClaim claim_instance(const std::string& id, const formats::ForwardedLaunch& launch,
                             int timeout_ms);

/// True once this process is the primary.
bool is_instance_primary();

/// The next queued launch, waiting for one. Only for the primary.
formats::ForwardedLaunch next_forwarded_launch();

}  // namespace vorlane
