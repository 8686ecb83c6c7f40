#include "launcher/launch_queue.h"

namespace vorlane {

using formats::ForwardedLaunch;

bool LaunchQueue::reserve(std::size_t bytes) {
  const std::lock_guard lock(mutex_);
  if (count_ >= max_launches_ || bytes > max_bytes_ - bytes_) return false;
  ++count_;
  bytes_ += bytes;
  return true;
}

void LaunchQueue::release(std::size_t bytes) {
  const std::lock_guard lock(mutex_);
  --count_;
  bytes_ -= bytes;
}

void LaunchQueue::push(ForwardedLaunch launch, std::size_t bytes) {
  {
    const std::lock_guard lock(mutex_);
    launches_.emplace_back(std::move(launch), bytes);
  }
  ready_.notify_one();
}

ForwardedLaunch LaunchQueue::pop() {
  std::unique_lock lock(mutex_);
  ready_.wait(lock, [this] { return !launches_.empty(); });
  auto [launch, bytes] = std::move(launches_.front());
  launches_.pop_front();
  --count_;
  bytes_ -= bytes;
  return launch;
}

}  // namespace vorlane
