// Single instance end to end: the lock, the hand-over before any JVM, the
// primary's queue and the Java handler, with the processes started here so
// that they also run under emulation.
#include "launcher/single_instance.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "e2e/app_tree.h"
#include "formats/launch_message.h"
#include "launcher/launch_queue.h"

namespace vorlane::e2e {

using formats::encode_launch;
using formats::ForwardedLaunch;
using formats::kLaunchAck;
using formats::kLaunchConfirm;

namespace {

using testing::HasSubstr;
using testing::Not;

constexpr char kPrimary[] = "primary, listening on ";

/// A probe app packed as single instance, with a private runtime folder.
struct SingleApp {
  AppTree tree;
  ScopedTempDir runtime_dir;
  std::string id;

  explicit SingleApp(const std::string& actions = "args,single,block",
                     const std::string& instance_id = "probe-app")
      : id(instance_id) {
    tree.burn_probe(actions, {"--java-option", "-Dvorlane.singleInstance=" + id});
  }
  std::string folder() const { return runtime_dir.path() + "/vorlane"; }
  std::map<std::string, std::string> env() const {
    return {{"XDG_RUNTIME_DIR", runtime_dir.path()}, {"VORLANE_DUMP_JVM_ARGS", "1"}};
  }
  std::unique_ptr<Child> start(const std::vector<std::string>& args = {},
                               bool stdin_pipe = false) const {
    return std::make_unique<Child>(joined(joined(Setup::get().emulator, {tree.launcher()}), args),
                                   Child::Options{env(), stdin_pipe, true, ""});
  }
  /// A launch that runs to its end: a second one, or an app of its own.
  RunResult launch(const std::vector<std::string>& args,
                   std::map<std::string, std::optional<std::string>> extra = {}) const {
    RunOptions options;
    for (const auto& [k, v] : env()) options.env[k] = v;
    options.env["XDG_ACTIVATION_TOKEN"] = std::nullopt;
    options.env["DESKTOP_STARTUP_ID"] = std::nullopt;
    for (auto& [k, v] : extra) options.env[k] = v;
    options.timeout_seconds = kChildBoundSeconds;
    return tree.run(args, options);
  }
  /// Starts the primary and waits until it listens.
  std::unique_ptr<Child> start_primary(bool stdin_pipe = false) const {
    std::unique_ptr<Child> primary = start({}, stdin_pipe);
    EXPECT_TRUE(primary->wait_for(kPrimary)) << primary->output();
    return primary;
  }
};

/// The launches a primary printed, one line each.
std::vector<std::string> launches(const std::string& output) {
  std::vector<std::string> found;
  for (const std::string& line : lines(output)) {
    if (line.starts_with("launch raw=")) found.push_back(line);
  }
  return found;
}

/// Whether every thread of `pid` is stopped, waiting for that at most 10 s:
/// kill(SIGSTOP) returns before the threads have stopped, and a thread
/// that is still running may yet serve a connection.
bool all_threads_stopped(pid_t pid) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  for (int tries = 0; tries < 1000; ++tries) {
    bool stopped = true;
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
      const std::string stat = read_text(task.path().string() + "/stat");
      const std::size_t paren = stat.rfind(')');
      if (paren == std::string::npos || paren + 2 >= stat.size() || stat[paren + 2] != 'T') {
        stopped = false;
      }
    }
    if (stopped && !ec) return true;
    usleep(10'000);
  }
  return false;
}

std::string hex(const std::string& bytes) {
  std::string out;
  for (const unsigned char c : bytes) {
    constexpr char kDigits[] = "0123456789abcdef";
    out += kDigits[c >> 4];
    out += kDigits[c & 0xF];
  }
  return out;
}

/// Ends a primary with a "quit" launch and returns its exit status.
int quit(const SingleApp& app, Child& primary) {
  const RunResult r = app.launch({"quit"});
  EXPECT_EQ(r.status, 0) << r.err;
  return primary.wait_exit();
}

TEST(SingleInstance, TwentyAtOnceMakeOnePrimaryAndEachListArrivesOnce) {
  SingleApp app;
  std::vector<std::unique_ptr<Child>> all;
  for (int i = 0; i < 20; ++i) all.push_back(app.start({"id-" + std::to_string(i)}));
  Child* primary = nullptr;
  int primaries = 0;
  for (auto& s : all) {
    if (s->wait_for(kPrimary)) {
      primary = s.get();
      ++primaries;
    } else {
      EXPECT_EQ(s->wait_exit(), 0) << s->output();
      EXPECT_THAT(s->output(), Not(HasSubstr("Single instance")));
    }
  }
  ASSERT_EQ(primaries, 1);
  ASSERT_EQ(quit(app, *primary), 0) << primary->output();
  const std::vector<std::string> got = launches(primary->output());
  ASSERT_EQ(got.size(), 20u) << primary->output();
  for (int i = 0; i < 20; ++i) {
    const std::string id = "id-" + std::to_string(i);
    const auto n = std::count_if(got.begin(), got.end(), [&id](const std::string& line) {
      return line.find("chars=[" + id + "]") != std::string::npos;
    });
    // The primary's own list went to its main, not to the handler.
    const bool is_primarys = primary->output().find("arg 0: " + id + "\n") != std::string::npos;
    EXPECT_EQ(n, is_primarys ? 0 : 1) << id << "\n" << primary->output();
  }
  EXPECT_THAT(got.back(), HasSubstr("chars=[quit]"));
}

TEST(SingleInstance, ArgumentsFolderAndTokensArriveWhole) {
  SingleApp app;
  std::unique_ptr<Child> primary = app.start_primary();
  const struct {
    std::vector<std::string> args;
    std::map<std::string, std::optional<std::string>> env;
    std::string token;
    std::string startup;
  } cases[] = {
      {{}, {}, "(null)", "(null)"},
      {{"", "", "a b"}, {{"XDG_ACTIVATION_TOKEN", "tok-1"}}, "tok-1", "(null)"},
      {{"\xFF\xFE", "\xF0\x9F\x98\x80", "caf\xC3\xA9", "\x01\t\n"},
       {{"DESKTOP_STARTUP_ID", "s_TIME42"}},
       "(null)",
       "s_TIME42"},
      // A link the desktop opens with the app (Exec ... %u), with its activation token.
      {{"vnote://note?title=A%20b&text=x#y"},
       {{"XDG_ACTIVATION_TOKEN", "tok-2"}},
       "tok-2",
       "(null)"},
      {{std::string(100000, 'x')},
       {{"XDG_ACTIVATION_TOKEN", "t"}, {"DESKTOP_STARTUP_ID", "d"}},
       "t",
       "d"},
  };
  // What the app's own main makes of the same arguments.
  AppTree plain;
  plain.burn_probe("args");
  for (const auto& c : cases) {
    const std::size_t before = launches(primary->output()).size();
    const RunResult r = app.launch(c.args, c.env);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::string raw;
    for (const std::string& a : c.args) raw.append("[").append(hex(a)).append("]");
    ASSERT_TRUE(primary->wait_for("launch raw=" + raw + " chars=")) << primary->output();
    const std::vector<std::string> got = launches(primary->output());
    ASSERT_EQ(got.size(), before + 1);
    const RunResult own = plain.run(c.args);
    std::string chars;
    for (const std::string& line : lines(own.out)) {
      if (line.starts_with("arg "))
        chars.append("[").append(line.substr(line.find(": ") + 2)).append("]");
    }
    EXPECT_THAT(got.back(), HasSubstr(" chars=" + chars + " cwd="));
    EXPECT_THAT(got.back(), HasSubstr(" token=" + c.token + " startup=" + c.startup));
  }
  EXPECT_EQ(quit(app, *primary), 0);
}

TEST(SingleInstance, PrimaryEndsByItselfWhileItsHandlerWaits) {
  // At exit, the handler's thread still waits for the next launch.
  const struct {
    std::string actions;
    int status;
  } cases[] = {{"single", 0}, {"single,exit:3", 3}, {"single,throw", 1}};
  for (const auto& c : cases) {
    SingleApp app(c.actions);
    const RunResult r = app.launch({});
    EXPECT_EQ(r.status, c.status) << c.actions << "\n" << r.err;
    EXPECT_THAT(r.out, HasSubstr("primary=true")) << c.actions;
  }
}

TEST(SingleInstance, LaunchesBeforeTheHandlerAreQueuedInOrder) {
  // The primary registers its handler only after a line on its input; the
  // second launches end before that, taken by the launcher's own queue.
  SingleApp app("wait-line,single,block");
  std::unique_ptr<Child> primary = app.start_primary(true);
  for (const char* arg : {"first", "second"}) {
    const RunResult r = app.launch({arg});
    EXPECT_EQ(r.status, 0) << r.err;
  }
  EXPECT_THAT(launches(primary->output()), testing::IsEmpty());
  primary->send("go");
  ASSERT_TRUE(primary->wait_for("chars=[second]")) << primary->output();
  const std::vector<std::string> got = launches(primary->output());
  ASSERT_EQ(got.size(), 2u);
  EXPECT_THAT(got[0], HasSubstr("chars=[first]"));
  EXPECT_EQ(quit(app, *primary), 0);
}

TEST(SingleInstance, NextLaunchBecomesPrimaryWhenThePrimaryIsGone) {
  const struct {
    std::string what;
    std::string actions;
  } cases[] = {
      {"killed", "single,block"},
      // A child it started with fork and exec outlives it, and holds neither lock nor socket.
      {"with a child left", "sleeper,single,block"},
  };
  for (const auto& c : cases) {
    SingleApp app(c.actions);
    std::unique_ptr<Child> first = app.start_primary();
    const bool sleeper = c.actions.starts_with("sleeper");
    // The child names itself: its pid is the one that runs sleep.
    if (sleeper) {
      ASSERT_TRUE(first->wait_for("sleeper ")) << first->output();
    }
    kill(first->pid(), SIGKILL);
    EXPECT_EQ(first->wait_exit(), 128 + SIGKILL) << c.what;
    // The socket file is left behind; the next primary replaces it.
    EXPECT_TRUE(std::filesystem::exists(app.folder() + "/" + app.id + ".sock")) << c.what;
    std::unique_ptr<Child> next = app.start({"again"});
    EXPECT_TRUE(next->wait_for(kPrimary)) << c.what << "\n" << next->output();
    EXPECT_EQ(quit(app, *next), 0) << c.what << "\n" << next->output();
    if (sleeper) {
      // The first app's child outlived it; the next app started one too.
      ASSERT_TRUE(next->wait_for("sleeper ")) << next->output();
      for (const std::string& out : {first->output(), next->output()}) {
        const pid_t pid = std::stoi(out.substr(out.find("sleeper ") + 8));
        EXPECT_EQ(kill(pid, SIGKILL), 0) << "the child did not outlive the app";
      }
    }
  }
}

TEST(SingleInstance, StoppedPrimaryMakesTheSecondLaunchFailWithinItsBound) {
  SingleApp app;
  std::unique_ptr<Child> primary = app.start_primary();
  ASSERT_EQ(kill(primary->pid(), SIGSTOP), 0);
  ASSERT_TRUE(all_threads_stopped(primary->pid()));
  const RunResult second = app.launch({"second"});
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err,
            "probe-app is already running, but the running instance did not answer within " +
                std::to_string(kHandOverTimeoutMs / 1000) + " s.\n");
  EXPECT_THAT(second.err + second.out, Not(HasSubstr(kPrimary)));
  ASSERT_EQ(kill(primary->pid(), SIGCONT), 0);
  // The stalled launch was not taken; once running again, the primary serves the next.
  EXPECT_EQ(quit(app, *primary), 0);
  EXPECT_THAT(launches(primary->output()), testing::ElementsAre(HasSubstr("chars=[quit]")));
}

/// Connects to `path` and sends `message` in a child process running as
/// `uid` (this process's user when it is -1); returns the child's verdict:
/// "connect: ERRNO", "answer: C" or "no answer".
std::string send_as(const std::string& path, const std::string& message, int uid) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return "pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    char verdict[64] = "no answer";
    if (uid >= 0 && (setgroups(0, nullptr) != 0 || setresgid(uid, uid, uid) != 0 ||
                     setresuid(uid, uid, uid) != 0)) {
      _exit(2);
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      const char* name = errno == EACCES ? "connect: EACCES" : "connect: other";
      (void)!write(report[1], name, std::strlen(name));
      _exit(0);
    }
    (void)!send(fd, message.data(), message.size(), MSG_NOSIGNAL);
    char answer = 0;
    if (read(fd, &answer, 1) == 1) {
      std::memcpy(verdict, "answer: ", 8);
      verdict[8] = answer;
      verdict[9] = 0;
    }
    (void)!write(report[1], verdict, std::strlen(verdict));
    _exit(0);
  }
  close(report[1]);
  std::string verdict;
  char buffer[64];
  for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;) verdict.append(buffer, n);
  close(report[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? verdict : "child failed";
}

/// A connection to the primary's socket, closed when it goes.
struct Connection {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  explicit Connection(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    (void)std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
  }
  ~Connection() { close(fd); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  /// Hands `launch` over as a second launch does; the primary's answer.
  char hand_over(const ForwardedLaunch& launch) const {
    const std::string message = encode_launch(launch);
    char answer = 0;
    if (send(fd, message.data(), message.size(), MSG_NOSIGNAL) != ssize_t(message.size()) ||
        read(fd, &answer, 1) != 1) {
      return 0;
    }
    if (answer == kLaunchAck) {
      EXPECT_EQ(send(fd, &kLaunchConfirm, 1, MSG_NOSIGNAL), 1);
    }
    return answer;
  }
};

TEST(SingleInstance, IdleAndSlowPeersDoNotHoldUpALaunch) {
  SingleApp app;
  std::unique_ptr<Child> primary = app.start_primary();
  const std::string socket = app.folder() + "/" + app.id + ".sock";
  // Each would hold a primary that serves one at a time for its full 2 s.
  std::vector<std::unique_ptr<Connection>> idle;
  for (int i = 0; i < 8; ++i) {
    idle.push_back(std::make_unique<Connection>(socket));
    if (i % 2 == 1) {  // slow: half a header
      EXPECT_EQ(send(idle.back()->fd, "VLS1", 4, MSG_NOSIGNAL), 4);
    }
  }
  const RunResult r = app.launch({"real"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(primary->wait_for("chars=[real]")) << primary->output();
  idle.clear();
  EXPECT_EQ(quit(app, *primary), 0);
}

TEST(SingleInstance, FullQueueRefusesTheLaunchAndKeepsTheQueued) {
  SingleApp app("wait-line,single,block");
  std::unique_ptr<Child> primary = app.start_primary(true);
  const std::string socket = app.folder() + "/" + app.id + ".sock";
  for (std::size_t i = 0; i < kMaxQueuedLaunches; ++i) {
    ASSERT_EQ(Connection(socket).hand_over({{std::to_string(i)}, "/", {}, {}}), kLaunchAck) << i;
  }
  const RunResult r = app.launch({"one too many"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "probe-app is already running, but its queue of launches the app has not taken yet is "
            "full (at most 64 launches or 16 MiB), so this launch was not handed over.\n");
  primary->send("go");
  ASSERT_TRUE(primary->wait_for("chars=[63]")) << primary->output();
  EXPECT_EQ(launches(primary->output()).size(), kMaxQueuedLaunches);
  // Taken launches make room again.
  EXPECT_EQ(quit(app, *primary), 0);
  EXPECT_THAT(primary->output(), Not(HasSubstr("one too many")));
}

TEST(SingleInstance, SocketOfAnotherUserGetsNothing) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to serve a socket as another user";
  // The lock is held, and the socket is served by user 65534: as if it had
  // swapped the folder for one of its own.
  SingleApp app;
  std::filesystem::create_directory(app.folder());
  chmod(app.folder().c_str(), 0700);
  const int lock =
      open((app.folder() + "/" + app.id + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_EQ(flock(lock, LOCK_EX), 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  (void)std::snprintf(address.sun_path, sizeof address.sun_path, "%s/%s.sock", app.folder().c_str(),
                      app.id.c_str());
  int go[2];
  int report[2];
  ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(report, O_CLOEXEC), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on. Reports the bytes the
    // connection it took got, or -1 for none.
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0 ||
        listen(fd, 4) != 0 || write(report[1], "r", 1) != 1) {
      _exit(2);
    }
    char byte = 0;
    (void)!read(go[0], &byte, 1);
    long got = -1;
    const int peer = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK);
    char buffer[4096];
    for (ssize_t n = 0; peer >= 0 && (n = read(peer, buffer, sizeof buffer)) >= 0;) {
      got = (got < 0 ? 0 : got) + n;
      if (n == 0) break;
    }
    (void)!write(report[1], &got, sizeof got);
    _exit(0);
  }
  close(go[0]);
  close(report[1]);
  char ready = 0;
  EXPECT_EQ(read(report[0], &ready, 1), 1) << "the other user's socket is not served";
  const RunResult r = app.launch({"secret"}, {{"XDG_ACTIVATION_TOKEN", "tok"}});
  EXPECT_EQ(write(go[1], "g", 1), 1);
  long got = -2;
  EXPECT_EQ(read(report[0], &got, sizeof got), ssize_t(sizeof got));
  EXPECT_EQ(got, 0) << "the bytes sent to the other user's socket";
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("probe-app is already running, but the socket " + app.folder() +
                               "/probe-app.sock is served by user 65534, not by user 0, so "
                               "nothing was sent to it.\n"));
  close(go[1]);
  close(report[0]);
  close(lock);
  int status = 0;
  waitpid(pid, &status, 0);
}

TEST(SingleInstance, BadMessagesAndOtherUsersAreRefusedAndThePrimaryStaysUp) {
  SingleApp app;
  std::unique_ptr<Child> primary = app.start_primary();
  const std::string socket = app.folder() + "/" + app.id + ".sock";
  const std::string good = encode_launch({{"injected"}, "/", {}, {}});
  const struct {
    std::string what;
    std::string message;
    int uid;
    std::string verdict;
  } cases[] = {
      {"not a launch", "GET / HTTP/1.0\r\n\r\n", -1, "answer: R"},
      {"a malformed body", good.substr(0, 8) + std::string(good.size() - 8, '\x7F'), -1,
       "answer: R"},
      // Another user cannot get through the private folder.
      {"from nobody", good, 65534, "connect: EACCES"},
  };
  for (const auto& c : cases) {
    if (c.uid >= 0 && geteuid() != 0) continue;
    EXPECT_EQ(send_as(socket, c.message, c.uid), c.verdict) << c.what;
  }
  if (geteuid() == 0) {
    // Even where the folder lets it through, the primary takes nothing from
    // another user (its peer credentials).
    chmod(app.runtime_dir.path().c_str(), 0711);
    chmod(app.folder().c_str(), 0711);
    chmod(socket.c_str(), 0777);
    EXPECT_EQ(send_as(socket, good, 65534), "no answer");
    chmod(app.folder().c_str(), 0700);
  }
  EXPECT_EQ(quit(app, *primary), 0);
  EXPECT_THAT(launches(primary->output()), testing::ElementsAre(HasSubstr("chars=[quit]")));
}

TEST(SingleInstance, UnusableFolderStartsTheAppWithoutIt) {
  namespace fs = std::filesystem;
  const struct {
    std::string what;
    void (*make)(const std::string& folder);
    std::string why;
    bool needs_root;
  } cases[] = {
      {"a link", [](const std::string& f) { fs::create_directory_symlink("/tmp", f); },
       "is a symbolic link", false},
      {"open to others",
       [](const std::string& f) {
         fs::create_directory(f);
         chmod(f.c_str(), 0777);
       },
       "has mode 0777", false},
      {"another user's",
       [](const std::string& f) {
         fs::create_directory(f);
         EXPECT_EQ(chown(f.c_str(), 65534, 65534), 0);
       },
       "belongs to user 65534", true},
      // Others could swap it for a folder of their own.
      {"in a folder open to others",
       [](const std::string& f) { chmod(fs::path(f).parent_path().c_str(), 0777); },
       "may be renamed by others: its parent has mode 0777", false},
      {"in another user's folder",
       [](const std::string& f) {
         EXPECT_EQ(chown(fs::path(f).parent_path().c_str(), 65534, 0), 0);
       },
       "may be renamed by others: its parent belongs to user 65534", true},
  };
  for (const auto& c : cases) {
    if (c.needs_root && geteuid() != 0) continue;
    SingleApp app("args");
    c.make(app.folder());
    const RunResult r = app.launch({"x"});
    EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
    EXPECT_THAT(r.out, HasSubstr("arg 0: x\n")) << c.what;
    EXPECT_THAT(r.err, HasSubstr("Single instance probe-app: off: " + app.folder() + " " + c.why))
        << c.what;
  }
  // Without XDG_RUNTIME_DIR: the user's folder in /tmp, made private.
  SingleApp app("args", "probe-" + std::to_string(getpid()));
  const RunResult r = app.launch({"x"}, {{"XDG_RUNTIME_DIR", std::nullopt}});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string folder = "/tmp/vorlane-" + std::to_string(getuid());
  EXPECT_THAT(r.err, HasSubstr(kPrimary + folder + "/" + app.id + ".sock"));
  struct stat st {};
  ASSERT_EQ(lstat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  fs::remove(folder + "/" + app.id + ".sock");
  fs::remove(folder + "/" + app.id + ".lock");
}

}  // namespace
}  // namespace vorlane::e2e
