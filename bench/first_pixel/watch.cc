// Times a program's first pixels on an X display: starts the program and
// reads two screen pixels over and over, the screen's centre (where a splash
// screen appears) and a point of the app's window, until the window's colour
// shows there. Prints the milliseconds from the start to each, "-" for a
// splash that never showed, then ends the program.
//
//   first_pixel_watch SPLASH_RGB WINDOW_RGB X Y COMMAND [ARG...]
//   e.g. first_pixel_watch ff00ff 2080ff 4 4 dist/app/bin/app  ->  "312.4 1480.9"
//
// DISPLAY names the display. Gives up after a minute (status 1).

#include <X11/Xlib.h>
#include <X11/Xutil.h>
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

unsigned long pixel_at(Display* display, Window root, int x, int y) {
  XImage* image = XGetImage(display, root, x, y, 1, 1, AllPlanes, ZPixmap);
  if (image == nullptr) return ~0UL;
  const unsigned long pixel = XGetPixel(image, 0, 0) & 0xffffffUL;
  XDestroyImage(image);
  return pixel;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: %s SPLASH_RGB WINDOW_RGB X Y COMMAND [ARG...]\n", argv[0]);
    return 2;
  }
  const unsigned long splash_rgb = std::strtoul(argv[1], nullptr, 16);
  const unsigned long window_rgb = std::strtoul(argv[2], nullptr, 16);
  const int window_x = std::atoi(argv[3]);
  const int window_y = std::atoi(argv[4]);
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "cannot open the display\n");
    return 2;
  }
  const Window root = DefaultRootWindow(display);
  const int centre_x = DisplayWidth(display, DefaultScreen(display)) / 2;
  const int centre_y = DisplayHeight(display, DefaultScreen(display)) / 2;

  const double start = now_ms();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[5], nullptr, nullptr, argv + 5, environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[5]);
    return 2;
  }
  double splash = -1;
  double window = -1;
  // A millisecond's pause between looks leaves the CPU to the program.
  const timespec pause{0, 1000000};
  while (window < 0 && now_ms() - start < 60000) {
    if (splash < 0 && pixel_at(display, root, centre_x, centre_y) == splash_rgb) {
      splash = now_ms() - start;
    }
    if (pixel_at(display, root, window_x, window_y) == window_rgb) window = now_ms() - start;
    nanosleep(&pause, nullptr);
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  XCloseDisplay(display);
  if (window < 0) {
    std::fprintf(stderr, "the window did not show within a minute\n");
    return 1;
  }
  if (splash < 0) {
    std::printf("- %.1f\n", window);
  } else {
    std::printf("%.1f %.1f\n", splash, window);
  }
  return 0;
}
