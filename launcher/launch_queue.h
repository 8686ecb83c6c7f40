// The single-instance primary's queue of launches handed over to it and not
// yet taken by the app.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <utility>

#include "formats/launch_message.h"

namespace vorlane {

/// The most launches, and bytes of their messages, the primary holds for an
/// app that has not taken them yet; a launch beyond either is refused, and
/// the second launch says so and exits 1. One launch of kMaxLaunchMessage
/// always fits into an empty queue.
inline constexpr std::size_t kMaxQueuedLaunches = 64;
inline constexpr std::size_t kMaxQueuedBytes = std::size_t{16} * 1024 * 1024;

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
  void push(formats::ForwardedLaunch launch, std::size_t bytes);
  /// The oldest launch, waiting for one; frees its room.
  formats::ForwardedLaunch pop();

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::pair<formats::ForwardedLaunch, std::size_t>> launches_;
  const std::size_t max_launches_;
  const std::size_t max_bytes_;
  std::size_t count_ = 0;  ///< reserved or queued launches
  std::size_t bytes_ = 0;  ///< and their bytes
};

}  // namespace vorlane
