#include "launcher/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "formats/launch_options.h"
#include "launcher/instance_folder.h"
#include "launcher/instance_server.h"
#include "launcher/instance_socket.h"
#include "launcher/launch_queue.h"
#include "launcher/sys.h"

namespace vorlane {

using formats::encode_launch;
using formats::ForwardedLaunch;
using formats::is_valid_instance_id;
using formats::kLaunchHeaderSize;
using formats::kMaxLaunchMessage;

namespace {

/// Never destroyed: at exit the Java side's thread may still wait on it,
/// and destroying a condition variable that has waiters blocks for ever.
LaunchQueue& queue() {
  static auto* const q = new LaunchQueue(kMaxQueuedLaunches, kMaxQueuedBytes);
  return *q;
}

bool g_primary = false;

std::string errno_text(const std::string& what, int error = errno) {
  return what + ": " + std::strerror(error);
}

InstanceClaim off(std::string why) { return {InstanceRole::kOff, std::move(why)}; }

}  // namespace

ForwardedLaunch this_launch(std::span<const char* const> args) {
  ForwardedLaunch launch;
  for (const char* arg : args) launch.args.emplace_back(arg);
  if (char* cwd = getcwd(nullptr, 0)) {
    launch.working_directory = cwd;
    std::free(cwd);
  }
  if (const char* token = std::getenv("XDG_ACTIVATION_TOKEN")) launch.activation_token = token;
  if (const char* startup = std::getenv("DESKTOP_STARTUP_ID")) launch.startup_id = startup;
  return launch;
}

InstanceClaim claim_instance(const std::string& id, const ForwardedLaunch& launch, int timeout_ms) {
  if (!is_valid_instance_id(id)) {
    return off("the ID '" + id + "' is not 1 to 128 letters, digits, '.', '-' and '_'");
  }
  const uid_t uid = getuid();
  const std::string folder = instance_folder(std::getenv("XDG_RUNTIME_DIR"), uid);
  const std::size_t slash = folder.rfind('/');
  const std::string parent = slash == 0 ? "/" : folder.substr(0, slash);
  const std::string leaf = folder.substr(slash + 1);
  // Everything from here on goes through descriptors of the folders checked,
  // so a folder renamed or swapped meanwhile is never the one used.
  const sys::Fd above(open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  struct stat parent_stat {};
  if (above.get() < 0 || fstat(above.get(), &parent_stat) != 0) return off(errno_text(parent));
  const FolderFacts parent_facts{true, false, parent_stat.st_uid, parent_stat.st_mode};
  if (const std::optional<std::string> problem = parent_problem(parent_facts, uid)) {
    return off(folder + " " + *problem);
  }
  if (mkdirat(above.get(), leaf.c_str(), 0700) != 0 && errno != EEXIST) {
    return off(errno_text(folder));
  }
  struct stat seen {};
  if (fstatat(above.get(), leaf.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
    return off(errno_text(folder));
  }
  const FolderFacts facts{S_ISDIR(seen.st_mode), S_ISLNK(seen.st_mode), seen.st_uid, seen.st_mode};
  if (const std::optional<std::string> problem = folder_problem(facts, uid)) {
    return off(folder + " " + *problem);
  }
  const sys::Fd dir(
      openat(above.get(), leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat opened {};
  if (dir.get() < 0 || fstat(dir.get(), &opened) != 0) return off(errno_text(folder));
  if (opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino) {
    return off(folder + " was replaced while it was checked");
  }
  const std::string socket_name = id + ".sock";
  const std::string socket_path = folder + "/" + socket_name;
  const std::string address = socket_path_in(dir.get(), opened, folder, socket_name);
  if (address.empty()) return off("the socket's path " + socket_path + " is too long for a socket");
  const std::string lock_name = id + ".lock";
  sys::Fd lock(
      openat(dir.get(), lock_name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (lock.get() < 0) return off(errno_text(folder + "/" + lock_name));

  const std::string message = encode_launch(launch);
  const std::int64_t deadline = now_ms() + timeout_ms;
  for (;;) {
    if (flock(lock.get(), LOCK_EX | LOCK_NB) == 0) {
      const sys::SysResult<int> listener = listen_on(dir.get(), socket_name, address);
      if (!listener.ok()) return off(errno_text(socket_path, listener.error));
      if (!start_serving(listener.value, queue())) {
        close(listener.value);
        return off("no thread could be started to listen on " + socket_path);
      }
      // Held until the process ends; the kernel releases it then, however it ends.
      (void)lock.release();
      g_primary = true;
      return {InstanceRole::kPrimary, socket_path};
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return off(errno_text(folder + "/" + lock_name));
    if (message.size() > kLaunchHeaderSize + kMaxLaunchMessage) {
      return {InstanceRole::kFailed, "its arguments are too long to hand over (" +
                                         std::to_string(message.size()) + " bytes, at most " +
                                         std::to_string(kMaxLaunchMessage) + ")"};
    }
    uid_t peer = uid;
    switch (hand_over(address, message, deadline, uid, peer)) {
      case HandOver::kTaken:
        return {InstanceRole::kHandedOver, socket_path};
      case HandOver::kRefused:
        return {InstanceRole::kFailed, "the running instance refused the launch"};
      case HandOver::kQueueFull:
        return {InstanceRole::kFailed,
                "its queue of launches the app has not taken yet is full (at most " +
                    std::to_string(kMaxQueuedLaunches) + " launches or " +
                    std::to_string(kMaxQueuedBytes / (std::size_t{1024} * 1024)) +
                    " MiB), so this launch was not handed over"};
      case HandOver::kForeign:
        // Never a second primary beside the lock's holder: refuse instead.
        return {InstanceRole::kFailed, "the socket " + socket_path + " is served by user " +
                                           std::to_string(peer) + ", not by user " +
                                           std::to_string(uid) + ", so nothing was sent to it"};
      case HandOver::kError:
        return {InstanceRole::kFailed, errno_text(socket_path)};
      case HandOver::kTimeout:
        break;
      case HandOver::kNotListening:
      case HandOver::kGone:
        // Starting, just died, or serving as many as it may at once: the
        // lock or the socket tells on the next round.
        if (remaining_ms(deadline) > 0) {
          poll(nullptr, 0, 2);
          continue;
        }
        break;
    }
    char seconds[32];
    (void)std::snprintf(seconds, sizeof seconds, "%g", timeout_ms / 1000.0);
    return {InstanceRole::kFailed,
            std::string("the running instance did not answer within ") + seconds + " s"};
  }
}

bool is_instance_primary() { return g_primary; }

ForwardedLaunch next_forwarded_launch() { return queue().pop(); }

}  // namespace vorlane
