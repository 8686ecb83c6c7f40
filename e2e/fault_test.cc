// Bad and extreme input, end to end: each case with the message and exit
// status it must give, and nothing left behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "e2e/app_tree.h"
#include "launcher/burned_in_data.h"
#include "launcher/burned_in_data_encoder.h"

extern "C" char** environ;

namespace fs = std::filesystem;

namespace vorlane::e2e {
namespace {

using testing::HasSubstr;

/// Longest single argument or environment string, its final 0 byte included
/// (MAX_ARG_STRLEN).
constexpr std::size_t kMaxArgStrlen = std::size_t{128} * 1024;

/// Every entry under `root`, links not followed: its type, size and time of
/// last change. A file added, removed or written shows up as a difference.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(root, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    struct stat info {};
    if (lstat(it->path().c_str(), &info) != 0) continue;
    entries[it->path().string()] =
        std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + " " +
        std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
  }
  return entries;
}

/// The JVM's performance data file for process `pid`. The JVM removes it
/// when it ends in an orderly way, and leaves it behind otherwise.
std::string perf_data_file(int pid) {
  const passwd* user = getpwuid(geteuid());
  return "/tmp/hsperfdata_" + std::string(user != nullptr ? user->pw_name : "?") + "/" +
         std::to_string(pid);
}

/// Runs the tree's launcher and expects it to leave nothing behind: no
/// change under the tree's temporary root and no performance data file.
RunResult run_clean(const AppTree& tree, const std::vector<std::string>& args = {},
                    const RunOptions& options = {}) {
  const auto before = snapshot(tree.temp_root());
  RunResult r = tree.run(args, options);
  EXPECT_EQ(snapshot(tree.temp_root()), before) << "the launch changed files";
  EXPECT_FALSE(fs::exists(perf_data_file(r.pid))) << perf_data_file(r.pid) << " left behind";
  return r;
}

/// Burns the probe app with its jars followed by `class_path` as the class
/// path, and the probe actions `actions`.
void burn_probe_with_class_path(const AppTree& tree, const std::string& class_path,
                                const std::string& actions) {
  const RunResult burned = tree.burn({
      "--main-class",
      "probe.Probe",
      "--java-option",
      "-Djava.class.path=" + tree.probe_class_path() + ":" + class_path,
      "--java-option",
      "-Dprobe.actions=" + actions,
  });
  ASSERT_EQ(burned.status, 0) << burned.err;
}

/// The class path the launcher hands to the JVM, from its option dump.
std::string dumped_class_path(const std::string& err) {
  for (const std::string& line : lines(err)) {
    const std::string prefix = "JVM arg 0: -Djava.class.path=";
    if (line.starts_with(prefix)) return line.substr(prefix.size());
  }
  return "(no class path dumped)";
}

/// `text` split at ':'.
std::vector<std::string> split_path(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t colon; (colon = text.find(':', start)) != std::string::npos; start = colon + 1) {
    parts.push_back(text.substr(start, colon - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

/// What the probe's arg-summary action prints for `args` (ASCII only):
/// their count, total length and Java's List.hashCode of them.
std::string arg_summary(const std::vector<std::string>& args) {
  std::uint32_t list_hash = 1;
  std::size_t chars = 0;
  for (const std::string& arg : args) {
    std::uint32_t hash = 0;
    for (const char c : arg) hash = 31 * hash + static_cast<unsigned char>(c);
    list_hash = 31 * list_hash + hash;
    chars += arg.size();
  }
  return "argc " + std::to_string(args.size()) + " chars " + std::to_string(chars) + " hash " +
         std::to_string(static_cast<std::int32_t>(list_hash)) + "\n";
}

void touch(const std::string& path) { std::ofstream file(path); }

RunOptions with_env(const std::string& name, const std::string& value) {
  RunOptions options;
  options.env[name] = value;
  return options;
}

// ---------------------------------------------------------------------------
// The command line.

TEST(Fault, CommandLineNearTheSystemsArgumentLimit) {
  AppTree tree;
  tree.burn_probe("arg-summary,prop-length:sun.java.command", {"--console"});
  const std::string app_dir = fs::canonical(tree.app_dir()).string();
  // The command record holds the arguments, and its references expand: a
  // line of them is the largest option a user can make.
  const struct {
    std::string unit, expanded;
  } cases[] = {
      {"abc", "abc"},
      {"&&", app_dir},
      {"=~/", "=/h/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.unit);
    const RunOptions options = with_env("HOME", "/h");
    // What the environment and the launcher's path take of ARG_MAX, with
    // room to spare for the emulator's own arguments.
    std::size_t budget = static_cast<std::size_t>(sysconf(_SC_ARG_MAX)) - std::size_t{64} * 1024;
    for (char** e = environ; *e != nullptr; ++e) budget -= std::strlen(*e) + 1 + sizeof(char*);
    budget -= 2 * (tree.launcher().size() + 1 + sizeof(char*));
    std::vector<std::string> args;
    std::size_t record = std::string("probe.Probe").size();
    while (budget > sizeof(char*) + 1 + c.unit.size()) {
      const std::size_t units =
          std::min(kMaxArgStrlen - 1, budget - sizeof(char*) - 1) / c.unit.size();
      std::string arg;
      for (std::size_t i = 0; i < units; ++i) arg += c.unit;
      budget -= arg.size() + 1 + sizeof(char*);
      record += 1 + units * c.expanded.size();
      args.push_back(std::move(arg));
    }
    ASSERT_GE(args.size(), 15u);
    const RunResult r = run_clean(tree, args, options);
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
    EXPECT_EQ(r.out,
              arg_summary(args) + "prop-length sun.java.command=" + std::to_string(record) + "\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST(Fault, ArgumentsArriveWholeWhateverTheirBytes) {
  const std::string fffd = R"(\ufffd)";
  const std::string all_ff(kMaxArgStrlen - 1, '\xFF');
  std::string all_ff_escaped;
  for (std::size_t i = 0; i < all_ff.size(); ++i) all_ff_escaped += fffd;
  // Adjacent literals end a hex escape ("A\x80" "B"), not a missing comma.
  // NOLINTBEGIN(bugprone-suspicious-missing-comma)
  const struct {
    std::string arg, seen;
  } cases[] = {
      // 4-byte UTF-8 becomes a surrogate pair, with nothing after it lost.
      {"ok\xC3\xA9\xF0\x9F\x98\x80.txt", R"(ok\u00e9\ud83d\ude00.txt)"},
      {"\xE2\x82\xAC"
       "100",
       R"(\u20ac100)"},
      {"A\x80"
       "B",
       "A" + fffd + "B"},                                          // stray continuation byte
      {"\xC0\xAF", fffd + fffd},                                   // overlong '/'
      {"\xE0\x9F\xBF", fffd + fffd + fffd},                        // overlong 3-byte form
      {"\xED\xBF\xBF", fffd + fffd + fffd},                        // an encoded low surrogate
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},             // above U+10FFFF
      {"\xF8\x88\x80\x80\x80", fffd + fffd + fffd + fffd + fffd},  // a 5-byte form
      {"\xFE\xFF", fffd + fffd},
      {"\xE2\x82", fffd + fffd},                    // cut short at the end
      {"\xF0\x9F\x98x", fffd + fffd + fffd + "x"},  // cut short before ASCII
      {all_ff, all_ff_escaped},                     // as long as one argument may be
  };
  // NOLINTEND(bugprone-suspicious-missing-comma)
  AppTree tree;
  // A default argument takes the same way.
  tree.burn_probe("args", {"--console", "--argument", "caf\xC3\xA9"});
  std::vector<std::string> args;
  std::string expected = "argc " + std::to_string(std::size(cases) + 1) + "\narg 0: caf\\u00e9\n";
  for (const auto& c : cases) {
    args.push_back(c.arg);
    expected += "arg " + std::to_string(args.size()) + ": " + c.seen + "\n";
  }
  const RunResult r = run_clean(tree, args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
}

// ---------------------------------------------------------------------------
// Class-path directories.

TEST(Fault, WildcardDirectoryOfTenThousandJars) {
  AppTree tree;
  const std::string dir = tree.temp_root() + "/many";
  fs::create_directory(dir);
  std::set<std::string> jars;
  for (int i = 0; i < 10000; ++i) {
    const std::string path = dir + "/lib" + std::to_string(i) + ".jar";
    touch(path);
    jars.insert(path);
  }
  touch(dir + "/notes.txt");
  burn_probe_with_class_path(tree, dir + "/*.jar", "args");
  const RunResult r = run_clean(tree, {}, with_env("VORLANE_DUMP_JVM_ARGS", ""));
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  EXPECT_EQ(r.out, "argc 0\n");
  std::vector<std::string> class_path = split_path(dumped_class_path(r.err));
  ASSERT_EQ(class_path.size(), 10002u);
  EXPECT_EQ(class_path[0] + ":" + class_path[1], tree.probe_class_path());
  EXPECT_EQ(std::set<std::string>(class_path.begin() + 2, class_path.end()), jars);
}

TEST(Fault, ClassPathDirectoriesThatCannotBeListedStayAsWritten) {
  AppTree tree;
  const std::string& root = tree.temp_root();
  fs::create_directory_symlink(root + "/self", root + "/self");  // a link to itself
  fs::create_directory(root + "/mixed");  // a listable directory with a looping entry
  fs::create_symlink(root + "/mixed/loop.jar", root + "/mixed/loop.jar");
  touch(root + "/mixed/good.jar");
  struct Element {
    std::string written, expanded;
  };
  const Element elements[] = {
      {root + "/self/*.jar", root + "/self/*.jar"},
      {root + "/mixed/*.jar", root + "/mixed/good.jar"},
      {tree.app_dir() + "/probe.jar/*", tree.app_dir() + "/probe.jar/*"},  // not a directory
      {root + "/missing/*", root + "/missing/*"},
  };
  std::string written;
  std::string expanded;
  for (const Element& e : elements) {
    written += (written.empty() ? "" : ":") + e.written;
    expanded += (expanded.empty() ? "" : ":") + e.expanded;
  }
  burn_probe_with_class_path(tree, written, "args");
  const RunResult r = run_clean(tree, {}, with_env("VORLANE_DUMP_JVM_ARGS", ""));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "argc 0\n");
  EXPECT_EQ(dumped_class_path(r.err), tree.probe_class_path() + ":" + expanded);
}

// ---------------------------------------------------------------------------
// The environment.

TEST(Fault, UserOptionsAsLongAsOneEnvironmentString) {
  // "VORLANE_JVM_OPTIONS=", the value and its 0 byte fill one string.
  const std::size_t size = kMaxArgStrlen - std::string("VORLANE_JVM_OPTIONS=").size() - 1;
  const auto padded = [&](const std::string& unit, const std::string& last) {
    std::string value;
    while (value.size() + unit.size() + last.size() <= size) value += unit;
    value.append(size - value.size() - last.size(), ' ');
    return value + last;
  };
  const std::string long_token = "-Dbig=" + std::string(size - 6, 'x');
  const struct {
    std::string value;
    int status;
    std::string out, err;
  } cases[] = {
      {long_token, 0, "prop-length big=" + std::to_string(size - 6) + "\n", ""},
      {padded("-ea ", "-Xmx64m"), 0, "prop-length big=-1\n", ""},  // 32,761 options
      {padded("-ea ", "'"), 1, "", "Unterminated quote in VORLANE_JVM_OPTIONS.\n"},
  };
  AppTree tree;
  tree.burn_probe("prop-length:big", {"--console", "--allow-java-option", "-Dbig=",
                                      "--allow-java-option", "-ea", "--allow-java-option", "-Xmx"});
  for (const auto& c : cases) {
    ASSERT_EQ(c.value.size(), size);
    const RunResult r = run_clean(tree, {}, with_env("VORLANE_JVM_OPTIONS", c.value));
    SCOPED_TRACE(c.value.substr(0, 40));
    EXPECT_EQ(r.status, c.status) << r.err.substr(0, 2000);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

// ---------------------------------------------------------------------------
// The launch data block.

TEST(Fault, BlockRightUpToTheAreasLastByte) {
  AppTree tree;
  const std::vector<std::string> options = {"-Djava.class.path=" + tree.probe_class_path(),
                                            "-Dprobe.actions=prop-length:fill"};
  BurnedInData block;
  block.main_class = "probe.Probe";
  block.jvm_options = options;
  block.jvm_options.emplace_back("-Dfill=");
  const std::size_t fill = kLaunchAreaSize - 1 - encode_block(block).size();
  const auto burn_args = [&](std::size_t fill_size) {
    std::vector<std::string> args = {"--main-class", "probe.Probe"};
    for (const std::string& option : options) args.insert(args.end(), {"--java-option", option});
    args.insert(args.end(), {"--java-option", "-Dfill=" + std::string(fill_size, 'f')});
    return args;
  };

  const RunResult refused = tree.burn(burn_args(fill + 1));
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.err,
            "vorlane-pack: the launch data takes 16,464 bytes, 1 more than the 16,463 the "
            "launcher has room for\n");
  EXPECT_FALSE(fs::exists(tree.launcher()));

  const RunResult burned = tree.burn(burn_args(fill));
  ASSERT_EQ(burned.status, 0) << burned.err;
  const RunResult r = run_clean(tree);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "prop-length fill=" + std::to_string(fill) + "\n");
  EXPECT_EQ(run_pack({"show", tree.launcher()}).status, 0);
}

TEST(Fault, BlockWithTheMostArgumentsItCanCount) {
  AppTree tree;
  std::vector<std::string> burn = {"--console"};
  std::vector<std::string> args;
  for (int i = 0; i < 255; ++i) {
    args.push_back("default" + std::to_string(i));
    burn.insert(burn.end(), {"--argument", args.back()});
  }
  tree.burn_probe("arg-summary", burn);
  args.emplace_back("given");
  const RunResult r = run_clean(tree, {"given"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, arg_summary(args));
}

TEST(Fault, PackerRefusesFilesItCannotRead) {
  AppTree tree;
  const std::string& dir = tree.temp_root();
  const std::string output = tree.launcher();
  const std::vector<std::string> burn = {"burn", "--output", output, "--main-class", "demo.Main"};
  const auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = burn;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      // Each of these once aborted (a directory) or read until memory ran out.
      {{"show", dir}, "vorlane-pack: cannot read " + dir + ": Is a directory\n"},
      {{"show", "/dev/zero"}, "vorlane-pack: cannot read /dev/zero: it holds more than 256 MiB\n"},
      {{"@" + dir}, "vorlane-pack: cannot read " + dir + ": Is a directory\n"},
      {{"@/dev/zero"}, "vorlane-pack: cannot read /dev/zero: it holds more than 256 MiB\n"},
      {with({"--template", dir}), "vorlane-pack: cannot read " + dir + ": Is a directory\n"},
      {with({"--template", "/dev/zero"}),
       "vorlane-pack: cannot read /dev/zero: it holds more than 256 MiB\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const auto before = snapshot(tree.temp_root());
    const RunResult r = run_pack(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(snapshot(tree.temp_root()), before);
  }
}

// ---------------------------------------------------------------------------
// The installed tree.

TEST(Fault, RuntimeMissingOrBrokenFailsInTheDynamicLoader) {
  // The loader refuses the launcher before any of its code runs: its own
  // message and status 127 (see the README's troubleshooting section).
  const struct {
    const char* name;
    std::optional<std::string> libjvm;  ///< contents of lib/runtime/lib/server/libjvm.so
    std::string message;
  } cases[] = {
      {"no runtime", std::nullopt,
       "error while loading shared libraries: libjvm.so: cannot open shared object file: No such "
       "file or directory\n"},
      {"empty libjvm.so", "", "/lib/server/libjvm.so: file too short\n"},
      {"text libjvm.so", std::string(std::size_t{64} * 1024, 'x'),
       "/lib/server/libjvm.so: invalid ELF header\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AppTree tree;
    tree.burn_probe("args");
    const std::string runtime = tree.home() + "/lib/runtime";
    fs::remove(runtime);
    if (c.libjvm) {
      fs::create_directories(runtime + "/lib/server");
      std::ofstream(runtime + "/lib/server/libjvm.so", std::ios::binary) << *c.libjvm;
    }
    const RunResult r = run_clean(tree);
    EXPECT_EQ(r.status, 127);
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_EQ(r.out, "");
  }
}

// ---------------------------------------------------------------------------
// The process.

TEST(Fault, ClosedStandardStreamsReadAndWriteNothing) {
  const std::string report = "stdin 0 bytes, stdout ok, stderr ok\n";
  const struct {
    std::set<int> closed;
    std::string out, err;
  } cases[] = {
      {{0}, "to stdout\n" + report, "to stderr\n" + report},
      {{1}, "", "to stderr\n" + report},
      {{2}, "to stdout\n" + report, ""},
      {{0, 1, 2}, "", ""},
  };
  AppTree tree;
  tree.burn_probe("streams", {"--console"});
  for (const auto& c : cases) {
    RunOptions options;
    options.closed_streams = c.closed;
    const RunResult r = run_clean(tree, {}, options);
    SCOPED_TRACE(testing::PrintToString(c.closed));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(Fault, FailedHandOversReportTheirCauseAndLeaveNothingBehind) {
  AppTree tree;
  const struct {
    std::vector<std::string> burn;
    std::string first_line;
  } cases[] = {
      {{"--main-class", "probe.NoSuchClass", "--java-option",
        "-Djava.class.path=" + tree.probe_class_path()},
       "Exception in thread \"main\" java.lang.ClassNotFoundException: Main class "
       "probe.NoSuchClass was not found on the class path " +
           tree.probe_class_path()},
      {{"--main-class", "kelderan.vorlane.updater.OnlineUpdater", "--java-option",
        "-Djava.class.path=" + tree.probe_class_path()},
       "Exception in thread \"main\" java.lang.NoSuchMethodException: Main class "
       "kelderan.vorlane.updater.OnlineUpdater has no method public static void main(String[] "
       "args)"},
      {{"--main-class", "probe.Probe", "--java-option",
        "-Djava.class.path=" + tree.app_dir() + "/probe.jar"},
       "Exception in thread \"main\" java.lang.NoClassDefFoundError: "
       "kelderan/vorlane/launcher/Launcher"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first_line);
    const RunResult burned = tree.burn(c.burn);
    ASSERT_EQ(burned.status, 0) << burned.err;
    const RunResult r = run_clean(tree);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.err).at(0), c.first_line);
    EXPECT_THAT(r.err, testing::Not(HasSubstr("Error: The application")));
    EXPECT_EQ(r.out, "");
  }
}

TEST(Fault, OptionsThatOutgrowMemoryEndTheLaunchWithAMessage) {
  // A deep installed tree and a command line of "&&" tokens: each token in
  // the command record becomes the application directory, some 1.8 KB.
  AppTree tree;
  std::string deep = tree.temp_root();
  for (int i = 0; i < 8; ++i) deep += "/" + std::string(200, 'd');
  fs::create_directories(deep);
  fs::rename(tree.home(), deep + "/app");
  const std::string launcher = deep + "/app/bin/probe-app";
  const RunResult burned = run_pack({"burn", "--template", Setup::get().template_path(), "--output",
                                     launcher, "--main-class", "probe.Probe", "--console"});
  ASSERT_EQ(burned.status, 0) << burned.err;
  // 1.9 MB of tokens, some 1.7 GB once expanded, in an address space of
  // 512 MB (the launcher's, or the emulator's with the launcher in it).
  std::vector<std::string> argv = {"/bin/sh", "-c", R"(ulimit -v 524288 && exec "$@")", "sh"};
  argv.insert(argv.end(), Setup::get().emulator.begin(), Setup::get().emulator.end());
  argv.push_back(launcher);
  for (int i = 0; i < 15; ++i) argv.emplace_back(kMaxArgStrlen - 2, '&');
  const RunResult r = run_process(argv);
  fs::rename(deep + "/app", tree.home());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Not enough memory for the JVM options.\n");
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace vorlane::e2e
