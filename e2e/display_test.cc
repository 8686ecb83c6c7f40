// The splash screen and the app's window on a real X display: each test
// starts its own Xvfb, runs the display probe (e2e/display) through the
// launcher, drives it one command a line and looks at the screen.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <regex>

#include "e2e/app_tree.h"

namespace fs = std::filesystem;

namespace vorlane::e2e {
namespace {

/// How long anything on screen may take to appear or go; a cap for a failing
/// test, never a wait.
constexpr auto kCap = std::chrono::seconds(120);
constexpr const char kWindowTitle[] = "Display probe";
constexpr const char kSplashColour[] = "#FF00FF";
constexpr const char kOtherColour[] = "#00FFFF";

/// Pixel counts by colour ("#RRGGBB") of a screenshot of the whole screen.
std::map<std::string, long> screen_colours(const std::string& display, const std::string& dir) {
  const std::string shot = dir + "/screen.xwd";
  const RunResult xwd =
      run_process({"/usr/bin/xwd", "-root", "-silent", "-display", display, "-out", shot});
  EXPECT_EQ(xwd.status, 0) << xwd.err;
  const RunResult histogram =
      run_process({"/usr/bin/convert", shot, "-format", "%c", "histogram:info:-"});
  EXPECT_EQ(histogram.status, 0) << histogram.err;
  // "     19200: (255,0,255) #FF00FF magenta"
  static const std::regex line(R"(^\s*(\d+):.*(#[0-9A-F]{6})\b)");
  std::map<std::string, long> counts;
  for (const std::string& l : lines(histogram.out)) {
    std::smatch m;
    if (std::regex_search(l, m, line)) counts[m[2]] += std::stol(m[1]);
  }
  return counts;
}

/// Whether the runtime can show windows and splash screens, else why not.
std::string missing_desktop() {
  for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xwd", "/usr/bin/convert", "/usr/bin/xdotool",
                           "/usr/bin/xprop"}) {
    if (!fs::exists(tool)) return std::string(tool) + " is not installed (scripts/install-deps)";
  }
  for (const char* lib : {"libsplashscreen.so", "libawt_xawt.so"}) {
    if (!fs::exists(Setup::get().runtime + "/lib/" + lib)) {
      return "the runtime " + Setup::get().runtime + " has no lib/" + lib + " (java.desktop)";
    }
  }
  return "";
}

/// An app tree of the display probe (`burn` burns it with the options given),
/// and a 160x120 splash image in kSplashColour as lib/app/splash.png.
class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = missing_desktop(); !why.empty()) GTEST_SKIP() << why;
    ASSERT_FALSE(display_.name().empty()) << "Xvfb did not start";
    image("splash.png", kSplashColour);
    fs::copy_file(VORLANE_DISPLAY_PROBE_JAR, tree_.app_dir() + "/display-probe.jar");
  }
  void image(const std::string& name, const char* colour, const char* size = "160x120") {
    const RunResult made =
        run_process({"/usr/bin/convert", "-size", size, std::string("xc:") + colour,
                     "PNG24:" + tree_.app_dir() + "/" + name});
    ASSERT_EQ(made.status, 0) << made.err;
  }
  void burn(const std::vector<std::string>& options) {
    std::vector<std::string> args = {
        "--main-class", "displayprobe.DisplayProbe", "--java-option",
        "-Djava.class.path=&&/display-probe.jar:&&/vorlane-launcher.jar"};
    for (const std::string& option : options) args.insert(args.end(), {"--java-option", option});
    const RunResult burned = tree_.burn(args);
    ASSERT_EQ(burned.status, 0) << burned.err;
  }
  /// Starts the launcher on this test's display (DISPLAY "" for none).
  std::unique_ptr<Child> start(std::map<std::string, std::string> env = {},
                               const std::string& err = "") {
    env.try_emplace("DISPLAY", display_.name());
    return std::make_unique<Child>(joined(Setup::get().emulator, {tree_.launcher()}),
                                   Child::Options{env, true, false, err});
  }
  /// Takes screenshots until one has every pixel count of `wanted` (by
  /// colour), at most for kCap, and expects them of the last one.
  void expect_screen(const std::map<std::string, long>& wanted) {
    const auto deadline = std::chrono::steady_clock::now() + kCap;
    std::map<std::string, long> colours;
    const auto all_there = [&] {
      return std::all_of(wanted.begin(), wanted.end(),
                         [&](const auto& w) { return colours[w.first] == w.second; });
    };
    do {
      colours = screen_colours(display_.name(), tree_.temp_root());
    } while (!all_there() && std::chrono::steady_clock::now() < deadline);
    for (const auto& [colour, count] : wanted) EXPECT_EQ(colours[colour], count) << colour;
  }

  Xvfb display_;
  AppTree tree_{"display-app"};
};

TEST_F(DisplayTest, SplashBeforeJavaThenWindow) {
  image("other.png", kOtherColour);
  burn({"-splash:&&/splash.png", "-Dx=1", "-splash:&&/other.png"});
  std::unique_ptr<Child> app = start();
  ASSERT_TRUE(app->started());
  // main runs and waits for its first command: no app code touched AWT, so
  // the splash on screen is the launcher's. Only the first -splash: counts.
  ASSERT_EQ(app->read_line(), "main");
  expect_screen({{kSplashColour, 160 * 120}, {kOtherColour, 0}});
  EXPECT_EQ(app->ask("splash"),
            "splash 160x120 file:" + fs::canonical(tree_.app_dir()).string() + "/splash.png");

  EXPECT_EQ(app->ask("window"), "window");
  RunOptions xdotool;
  xdotool.env["DISPLAY"] = display_.name();
  const RunResult found = run_process(
      {"/usr/bin/xdotool", "search", "--sync", "--onlyvisible", "--name", kWindowTitle}, xdotool);
  ASSERT_EQ(found.status, 0) << found.err;
  const RunResult wm_class = run_process(
      {"/usr/bin/xprop", "-display", display_.name(), "-id", lines(found.out).at(0), "WM_CLASS"});
  // The class (what a desktop entry's StartupWMClass names) is the main
  // class with dashes; JDK 17.0.15 gives the instance name the same value.
  static const std::regex expected_class(
      R"re(WM_CLASS\(STRING\) = "(sun-awt-X11-XFramePeer|displayprobe-DisplayProbe)", )re"
      R"re("displayprobe-DisplayProbe"\n)re");
  EXPECT_TRUE(std::regex_match(wm_class.out, expected_class)) << wm_class.out;
  // The splash closes by itself as the window appears; the window shows a
  // 100x50 box on its 300x200 background.
  expect_screen({{kSplashColour, 0}, {"#FFD000", 100 * 50}, {"#2080FF", 300 * 200 - 100 * 50}});
  EXPECT_EQ(app->ask("splash"), "splash none");
  EXPECT_EQ(app->finish(), 0);
}

TEST_F(DisplayTest, AppDrawsOnSplashAndClosesIt) {
  burn({"-splash:&&/splash.png"});
  std::unique_ptr<Child> app = start();
  ASSERT_EQ(app->read_line(), "main");
  EXPECT_EQ(app->ask("draw"), "drawn");
  expect_screen({{"#00C040", 40 * 40}, {kSplashColour, 160 * 120 - 40 * 40}});
  EXPECT_EQ(app->ask("close"), "closed");
  expect_screen({{kSplashColour, 0}, {"#00C040", 0}});
  EXPECT_EQ(app->ask("splash"), "splash none");
  EXPECT_EQ(app->finish(), 0);
}

TEST_F(DisplayTest, ScaledScreenShowsImageForItsScale) {
  image("splash@2x.png", kOtherColour, "320x240");
  burn({"-splash:&&/splash.png"});
  std::unique_ptr<Child> app = start({{"GDK_SCALE", "2"}});
  ASSERT_EQ(app->read_line(), "main");
  expect_screen({{kOtherColour, 320 * 240}, {kSplashColour, 0}});
  // The app sees the splash at its unscaled size, under the image's own name.
  EXPECT_EQ(app->ask("splash"),
            "splash 160x120 file:" + fs::canonical(tree_.app_dir()).string() + "/splash.png");
  EXPECT_EQ(app->finish(), 0);
}

/// A runtime that is the real one but for its splash library, as a runtime
/// made without java.desktop would be.
void runtime_without_splash_library(const AppTree& tree) {
  const fs::path runtime = Setup::get().runtime;
  const fs::path copy = tree.home() + "/lib/runtime";
  fs::remove(copy);
  fs::create_directories(copy / "lib");
  for (const auto& entry : fs::directory_iterator(runtime)) {
    if (entry.path().filename() != "lib")
      fs::create_symlink(entry.path(), copy / entry.path().filename());
  }
  for (const auto& entry : fs::directory_iterator(runtime / "lib")) {
    if (entry.path().filename() != "libsplashscreen.so") {
      fs::create_symlink(entry.path(), copy / "lib" / entry.path().filename());
    }
  }
}

TEST_F(DisplayTest, LaunchGoesOnWithoutSplash) {
  const struct {
    const char* name;
    std::string option;
    bool with_library, with_display;
    std::string dump;
  } cases[] = {
      {"missing image", "-splash:&&/nothere.png", true, true, "/nothere.png: not found"},
      {"not an image", "-splash:&&/display-probe.jar", true, true, "/display-probe.jar: could not"},
      {"empty name", "-splash:", true, true, "Splash screen : not found"},
      {"no display", "-splash:&&/splash.png", true, false, "/splash.png: could not"},
      // Last: the tree keeps this runtime.
      {"no library", "-splash:&&/splash.png", false, true, "/splash.png: the runtime has no"},
  };
  const std::string err = tree_.temp_root() + "/err.txt";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.with_library) runtime_without_splash_library(tree_);
    burn({c.option});
    std::unique_ptr<Child> app = start(
        {{"DISPLAY", c.with_display ? display_.name() : ""}, {"VORLANE_DUMP_JVM_ARGS", "1"}}, err);
    ASSERT_EQ(app->read_line(), "main");
    EXPECT_EQ(app->ask("splash"), "splash none");
    EXPECT_EQ(app->finish(), 0);
    const std::string dump = read_text(err);
    EXPECT_NE(dump.find(c.dump), std::string::npos) << dump;
    EXPECT_EQ(dump.find("-splash:"), std::string::npos) << dump;
  }
}

/// A failed launch of a GUI app, its standard error a pipe: the dialog tool
/// found first on PATH shows the failure, exit status 1, a line in the log.
TEST_F(DisplayTest, FailuresShowADialogAndAreLogged) {
  if (emulated()) GTEST_SKIP() << "the launcher under emulation starts no dialog tool";
  if (!fs::exists("/usr/bin/zenity"))
    GTEST_SKIP() << "zenity is not installed (scripts/install-deps)";
  const std::string only_xmessage = tree_.temp_root() + "/only-xmessage";
  const std::string no_tools = tree_.temp_root() + "/no-tools";
  fs::create_directories(only_xmessage);
  fs::create_directories(no_tools);
  fs::create_symlink("/usr/bin/xmessage", only_xmessage + "/xmessage");
  const std::string main_class_missing = "Main class no.Such was not found";
  const std::string state = tree_.temp_root() + "/state";
  const std::string crash_agent = "-agentpath:" + Setup::get().probe_native + "=crash";
  const struct {
    std::string actions;  ///< the probe's; "" for a missing main class
    std::string user_options;
    std::string path;
    std::string title;  ///< of the dialog; "" for none
    std::string logged;
    int status = 1;
    bool without_runtime = false;  ///< lib/runtime moved away for the row
  } rows[] = {
      // The JVM ends the process itself as it starts: its exit and abort
      // hooks report it, and its output stays as it is without a display.
      {"args", "-Xms2g -Xmx1g", "/usr/bin:/bin", "display-app",
       "The JVM stopped as it started.\n\nError occurred during initialization of VM\n"
       "Initial heap size set to a larger value than the maximum heap size"},
      {"args", crash_agent, "/usr/bin:/bin", "display-app",
       "The JVM crashed as it started. Its crash log is " + state + "/display-app/hs_err_pid", 134},
      {"", "", "/usr/bin:/bin", "display-app", main_class_missing},
      {"args", "-Xfoo", only_xmessage, "display-app", "Unrecognized option: -Xfoo"},
      {"args", "-Dfoo", "/usr/bin:/bin", "Invalid JVM option", "VORLANE_JVM_OPTIONS: -Dfoo"},
      {"throw", "", "/usr/bin:/bin", "The application has experienced an internal error",
       "probe failure"},
      {"", "", no_tools, "", main_class_missing},
      // The launcher loads libjvm.so itself, so a missing runtime is its
      // failure to report, not the dynamic loader's.
      {"args", "", "/usr/bin:/bin", "display-app",
       "The app's Java runtime cannot be loaded (libjvm.so: cannot open shared object file", 1,
       true},
  };
  const std::string runtime = tree_.home() + "/lib/runtime";
  for (const auto& row : rows) {
    if (row.actions.empty()) {
      ASSERT_EQ(tree_
                    .burn({"--main-class", "no.Such", "--allow-java-option", "-X", "--java-option",
                           "-Djava.class.path=" + tree_.probe_class_path()})
                    .status,
                0);
    } else {
      tree_.burn_probe(row.actions,
                       {"--allow-java-option", "-X", "--allow-java-option", "-agentpath:"});
    }
    if (row.without_runtime) fs::rename(runtime, runtime + ".away");
    RunOptions options;
    options.env = {{"DISPLAY", display_.name()},
                   {"XDG_STATE_HOME", state},
                   {"PATH", row.path},
                   {"VORLANE_JVM_OPTIONS", row.user_options}};
    const RunResult launch = tree_.run({}, options);
    EXPECT_EQ(launch.status, row.status) << row.logged;
    if (row.status == 1) {
      options.env["DISPLAY"] = "";
      const RunResult plain = tree_.run({}, options);
      EXPECT_EQ(launch.out + launch.err, plain.out + plain.err) << row.logged;
    }
    if (row.without_runtime) fs::rename(runtime + ".away", runtime);
    EXPECT_NE(read_text(state + "/display-app/launcher.log").find(row.logged), std::string::npos)
        << row.logged;
    if (row.title.empty()) continue;
    RunOptions bounded;
    bounded.env["DISPLAY"] = display_.name();
    bounded.timeout_seconds = static_cast<int>(kCap.count());
    const RunResult found = run_process(
        {"/usr/bin/xdotool", "search", "--sync", "--onlyvisible", "--name", row.title}, bounded);
    ASSERT_EQ(found.status, 0) << row.logged << ": no dialog " << found.err;
    run_process({"/usr/bin/xdotool", "windowkill", lines(found.out).at(0)}, bounded);
  }
}

/// Whether the fake dialog tool `fake` was started: it runs (it is in /proc
/// from the moment posix_spawn returns) or has run and left `fake`.args.
bool fake_tool_ran(const std::string& fake) {
  for (const fs::directory_entry& process : fs::directory_iterator("/proc")) {
    if (read_text(process.path().string() + "/cmdline").find(fake) != std::string::npos) {
      return true;
    }
  }
  return fs::exists(fake + ".args");
}

/// A console app, standard error on a terminal or no display: no dialog.
TEST_F(DisplayTest, NoDialogForConsoleAppTerminalOrNoDisplay) {
  if (emulated()) GTEST_SKIP() << "the launcher under emulation starts no dialog tool";
  const std::string tools = tree_.temp_root() + "/tools";
  fs::create_directories(tools);
  const struct {
    bool console;
    bool terminal;
    std::string display;
    bool dialog;
  } rows[] = {
      {false, false, display_.name(), true},  // shows that the fake tool would be seen
      {true, false, display_.name(), false},
      {false, true, display_.name(), false},
      {false, false, "", false},
  };
  int n = 0;
  for (const auto& row : rows) {
    // A tool of its own for each row, so that no row sees another's.
    const std::string fake = tools + "/" + std::to_string(++n);
    fs::create_directories(fake);
    { std::ofstream(fake + "/zenity") << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n"; }
    fs::permissions(fake + "/zenity", fs::perms::owner_all);
    std::vector<std::string> burn = {"--main-class", "no.Such", "--java-option",
                                     "-Djava.class.path=" + tree_.probe_class_path()};
    if (row.console) burn.emplace_back("--console");
    ASSERT_EQ(tree_.burn(burn).status, 0);
    RunOptions options;
    options.env = {{"DISPLAY", row.display},
                   {"PATH", fake + ":/usr/bin:/bin"},
                   {"XDG_STATE_HOME", tree_.temp_root() + "/state"}};
    const RunResult launch =
        row.terminal
            ? run_process({"/usr/bin/script", "-qec", tree_.launcher(), "/dev/null"}, options)
            : tree_.run({}, options);
    EXPECT_EQ(launch.status, 1) << n;
    EXPECT_EQ(fake_tool_ran(fake + "/zenity"), row.dialog) << n;
  }
}

/// Xft.dpi of the display sets the whole scale Java supports and passes the
/// exact factor, unless the environment or an option sets a scale.
TEST_F(DisplayTest, ScaleFromXftDpi) {
  const struct {
    std::string resources;  ///< the root window's RESOURCE_MANAGER
    std::map<std::string, std::string> env;
    std::string scale;
  } rows[] = {
      {"Xft.dpi:\t192\n", {}, "scale 2.0 2"},
      {"Xft.antialias:\t1\nXft.dpi:\t144\n", {}, "scale 1.0 1.5"},
      {"Xft.dpi:\t288\n", {}, "scale 3.0 3"},
      {"Xft.dpi:\t192\n", {{"GDK_SCALE", "1"}}, "scale 1.0 null"},
      {"Xft.dpi:\t192\n", {{"VORLANE_JVM_OPTIONS", "-Dsun.java2d.uiScale=1"}}, "scale 1.0 null"},
      {"Xcursor.size:\t24\n", {}, "scale 1.0 null"},
  };
  tree_.burn({"--main-class", "displayprobe.DisplayProbe", "--java-option",
              "-Djava.class.path=&&/display-probe.jar:&&/vorlane-launcher.jar",
              "--allow-java-option", "-Dsun.java2d.uiScale="});
  for (const auto& row : rows) {
    RunOptions on_display;
    on_display.env["DISPLAY"] = display_.name();
    const RunResult set = run_process({"/usr/bin/xprop", "-root", "-f", "RESOURCE_MANAGER", "8s",
                                       "-set", "RESOURCE_MANAGER", row.resources},
                                      on_display);
    ASSERT_EQ(set.status, 0) << set.err;
    std::unique_ptr<Child> app = start(row.env);
    ASSERT_EQ(app->read_line(), "main");
    EXPECT_EQ(app->ask("scale"), row.scale) << row.resources;
    EXPECT_EQ(app->finish(), 0);
  }
}

}  // namespace
}  // namespace vorlane::e2e
