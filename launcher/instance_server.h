// The single-instance primary's listening thread: it reads launches from
// the socket, answers each and queues those the sender confirms.
#pragma once

#include <cstddef>

#include "launcher/launch_queue.h"

namespace vorlane {

/// How many connections the primary serves at once, each within its own
/// 2 s: idle or slow peers cannot hold up a real launch, and one over the
/// bound is closed at once (the second launch tries again) rather than
/// queued behind them. Bounds the messages being read to 16 x 4 MiB.
inline constexpr std::size_t kMaxServedConnections = 16;

/// Starts the thread that serves launches on `listener` into `launches`,
/// with every signal blocked so that the JVM's handlers run on its own
/// threads. The thread owns `listener` once started; false when none could
/// be started. `launches` must outlive the process's threads.
bool start_serving(int listener, LaunchQueue& launches);

}  // namespace vorlane
