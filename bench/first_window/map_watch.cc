// Times a program's first window on an X display by the server's own word:
// listens for MapNotify on the root window's children, starts the program,
// and prints the milliseconds from the start to the first top-level window
// mapped that is at least MIN_WIDTH pixels wide (so an app's splash window
// can be passed over). Then, after LINGER_MS, sends the program SIGTERM (a normal end for
// the JVM, which writes an ahead-of-time cache then) and waits for it.
//
//   first_window_watch LINGER_MS MIN_WIDTH COMMAND [ARG...]   ->  "1480.9"
//
// DISPLAY names the display. Gives up after two minutes (status 1).

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace {

double now_ms() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

/// Waits for `pid` at most `ms`; kills it after that.
void end(pid_t pid, int ms) {
  const double until = now_ms() + ms;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (now_ms() > until) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return;
    }
    poll(nullptr, 0, 20);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s LINGER_MS MIN_WIDTH COMMAND [ARG...]\n", argv[0]);
    return 2;
  }
  const int linger = std::atoi(argv[1]);
  const int min_width = std::atoi(argv[2]);
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "cannot open the display\n");
    return 2;
  }
  const Window root = DefaultRootWindow(display);
  // Selected before the start, so no map can come before we listen.
  XSelectInput(display, root, SubstructureNotifyMask);
  XSync(display, False);

  pid_t pid = 0;
  const double started = now_ms();
  // Its output goes nowhere: this program's own output is the time alone.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&pid, argv[3], &actions, nullptr, argv + 3, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[3]);
    return 2;
  }
  const int fd = ConnectionNumber(display);
  double mapped = -1;
  while (mapped < 0 && now_ms() - started < 120000) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type != MapNotify || event.xmap.event != root || mapped >= 0) continue;
      const double at = now_ms();
      XWindowAttributes attributes{};
      if (XGetWindowAttributes(display, event.xmap.window, &attributes) != 0 &&
          attributes.width >= min_width) {
        mapped = at;
      }
    }
    if (mapped < 0) {
      pollfd readable{fd, POLLIN, 0};
      poll(&readable, 1, 100);
    }
  }
  if (mapped >= 0 && linger > 0) poll(nullptr, 0, linger);
  kill(pid, SIGTERM);
  end(pid, 60000);
  XCloseDisplay(display);
  if (mapped < 0) return 1;
  std::printf("%.1f\n", mapped - started);
  return 0;
}
