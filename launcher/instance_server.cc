#include "launcher/instance_server.h"

#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/launch_message.h"
#include "launcher/instance_socket.h"
#include "launcher/sys.h"

namespace vorlane {

using formats::decode_launch_body;
using formats::ForwardedLaunch;
using formats::kLaunchAck;
using formats::kLaunchConfirm;
using formats::kLaunchHeaderSize;
using formats::kLaunchQueueFull;
using formats::kLaunchRefused;
using formats::launch_body_size;

namespace {

/// How long the primary gives one connection to deliver its message: a
/// writer that stalls holds up the next ones no longer than this, well
/// within their own wait.
constexpr int kServeTimeoutMs = 2000;

/// One connection the primary serves: the header, the body, the answer and
/// the sender's confirmation, all before its own deadline.
struct Connection {
  enum class Stage { kHeader, kBody, kConfirm };
  Connection(sys::Fd accepted, std::int64_t until) : fd(std::move(accepted)), deadline(until) {}
  sys::Fd fd;
  std::int64_t deadline;
  Stage stage = Stage::kHeader;
  std::string bytes;  ///< what has come of the current stage
  std::size_t want = kLaunchHeaderSize;
  std::optional<ForwardedLaunch> launch;
  std::size_t reserved = 0;  ///< room held in the queue once acknowledged
  bool done = false;
};

/// Sends the one-byte answer; the socket's buffer is empty, so it never waits.
bool answer(const Connection& c, char byte) {
  return send(c.fd.get(), &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1;
}

/// Acts on a stage whose bytes are all there: moves on to the next one, or
/// finishes the connection (answered, refused or queued).
void complete_stage(Connection& c, LaunchQueue& launches) {
  switch (c.stage) {
    case Connection::Stage::kHeader: {
      const std::optional<std::uint32_t> size = launch_body_size(c.bytes);
      if (!size) {
        (void)answer(c, kLaunchRefused);
        c.done = true;
        return;
      }
      c.stage = Connection::Stage::kBody;
      c.want = *size;
      c.bytes.clear();
      return;
    }
    case Connection::Stage::kBody: {
      c.launch = decode_launch_body(c.bytes);
      const std::size_t size = c.bytes.size();
      c.bytes = std::string();
      if (!c.launch) {
        (void)answer(c, kLaunchRefused);
        c.done = true;
        return;
      }
      if (!launches.reserve(size)) {
        (void)answer(c, kLaunchQueueFull);
        c.done = true;
        return;
      }
      c.reserved = size;
      if (!answer(c, kLaunchAck)) {
        c.done = true;
        return;
      }
      c.stage = Connection::Stage::kConfirm;
      c.want = 1;
      return;
    }
    case Connection::Stage::kConfirm:
      if (c.bytes[0] == kLaunchConfirm) {
        launches.push(std::move(*c.launch), c.reserved);
        c.reserved = 0;
      }
      c.done = true;
      return;
  }
}

/// Reads what the peer has sent of the current stage, and acts on each
/// stage it completes. Reads no further than the stage, so a sender's
/// confirmation is never taken for part of its message.
void serve_readable(Connection& c, LaunchQueue& launches) {
  constexpr std::size_t kChunk = std::size_t{64} * 1024;
  while (!c.done) {
    if (c.bytes.size() == c.want) {
      complete_stage(c, launches);
      continue;
    }
    // Grows with what arrives, so a peer that only announces a large body
    // costs nothing until it sends it.
    const std::size_t have = c.bytes.size();
    c.bytes.resize(have + std::min(kChunk, c.want - have));
    const ssize_t n = read(c.fd.get(), c.bytes.data() + have, c.bytes.size() - have);
    const int error = errno;
    c.bytes.resize(have + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    if (n > 0 || (n < 0 && error == EINTR)) continue;
    if (n < 0 && error == EAGAIN) return;
    c.done = true;  // the end, or a failure
  }
}

/// Takes the waiting connections: another user's and any over the bound are
/// closed at once. Takes a bounded number per round, so a flood of
/// connections cannot starve those being served. Returns false when the
/// listener fails (out of descriptors, most likely).
bool accept_waiting(int listener, std::vector<Connection>& connections, uid_t uid) {
  for (std::size_t round = 0; round < 4 * kMaxServedConnections; ++round) {
    sys::Fd fd(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (fd.get() < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return errno == EAGAIN;
    }
    if (peer_uid(fd.get()) != uid || connections.size() >= kMaxServedConnections) continue;
    connections.emplace_back(std::move(fd), now_ms() + kServeTimeoutMs);
  }
  return true;
}

/// What the serving thread is handed.
struct Served {
  int listener;
  LaunchQueue* launches;
};

/// The primary's thread: serves up to kMaxServedConnections at once, each
/// until its own deadline, and queues the launches they confirm.
void* serve_launches(void* arg) {
  const Served served = *std::unique_ptr<Served>(static_cast<Served*>(arg));
  const int listener = served.listener;
  const uid_t uid = getuid();
  LaunchQueue& launches = *served.launches;
  std::vector<Connection> connections;
  std::vector<pollfd> polled;
  // When accepting fails (out of descriptors), the listener rests a moment,
  // so the loop does not spin on it while the app closes some.
  std::int64_t listener_rests_until = 0;
  for (;;) {
    std::int64_t now = now_ms();
    const bool listening = now >= listener_rests_until;
    std::int64_t wake = listening ? -1 : listener_rests_until;
    polled.clear();
    for (const Connection& c : connections) {
      polled.push_back({c.fd.get(), POLLIN, 0});
      wake = wake < 0 ? c.deadline : std::min(wake, c.deadline);
    }
    if (listening) polled.push_back({listener, POLLIN, 0});
    const int timeout = wake < 0 ? -1 : remaining_ms(wake);
    if (poll(polled.data(), polled.size(), timeout) < 0 && errno != EINTR) {
      poll(nullptr, 0, 50);
      continue;
    }
    for (std::size_t i = 0; i < connections.size(); ++i) {
      if (polled[i].revents != 0) serve_readable(connections[i], launches);
    }
    now = now_ms();
    for (Connection& c : connections) {
      if (c.deadline <= now) c.done = true;
      if (c.done && c.reserved > 0) launches.release(c.reserved);
    }
    std::erase_if(connections, [](const Connection& c) { return c.done; });
    if (listening && polled.back().revents != 0 && !accept_waiting(listener, connections, uid)) {
      listener_rests_until = now + 50;
    }
  }
  return nullptr;
}

}  // namespace

bool start_serving(int listener, LaunchQueue& launches) {
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, std::size_t{256} * 1024);
  pthread_t thread;
  auto passed = std::make_unique<Served>(Served{listener, &launches});
  const int error = pthread_create(&thread, &attr, serve_launches, passed.get());
  if (error == 0) (void)passed.release();  // the thread owns it now
  pthread_attr_destroy(&attr);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return error == 0;
}

}  // namespace vorlane
