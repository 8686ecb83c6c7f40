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
#include <map>
#include <set>

#include "e2e/app_tree.h"
#include "formats/launch_data.h"
#include "formats/launch_data_encoder.h"

extern "C" char** environ;

namespace fs = std::filesystem;

namespace vorlane::e2e {

using formats::BurnedInData;
using formats::encode_block;
using formats::kLaunchAreaSize;

namespace {

using testing::HasSubstr;

/// Longest single argument or environment string, its final 0 byte included
/// (MAX_ARG_STRLEN).
constexpr std::size_t kMaxArgStrlen = std::size_t{128} * 1024;

/// Every entry under `root`, links not followed: its type, size and time of
/// last change. A file added, removed or written shows up as a difference.
/// The user's state and config folders the suite keeps there are not the
/// app's: a launch makes its state folder, where a crash log would go.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(root, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it.depth() == 0 &&
        (it->path().filename() == "state" || it->path().filename() == "config")) {
      it.disable_recursion_pending();
      continue;
    }
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
    RunOptions options;
    options.env["HOME"] = "/h";
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
  const struct {
    std::string arg, seen;
  } cases[] = {
      // 4-byte UTF-8 becomes a surrogate pair, with nothing after it lost.
      {"ok\xC3\xA9\xF0\x9F\x98\x80.txt", R"(ok\u00e9\ud83d\ude00.txt)"},
      // Bad bytes become U+FFFD, each form of them in the unit table.
      {"A\200B\360\237\230x", "A" + fffd + "B" + fffd + fffd + fffd + "x"},
      {all_ff, all_ff_escaped},  // as long as one argument may be
  };
  AppTree tree;
  // Default arguments take the same way, as many as the block can count.
  std::vector<std::string> burn = {"--console"};
  std::string expected = "argc " + std::to_string(255 + std::size(cases)) + "\n";
  for (int i = 0; i < 255; ++i) {
    burn.insert(burn.end(), {"--argument", "caf\xC3\xA9"});
    expected += "arg " + std::to_string(i) + ": caf\\u00e9\n";
  }
  tree.burn_probe("args", burn);
  std::vector<std::string> args;
  for (const auto& c : cases) {
    expected += "arg " + std::to_string(255 + args.size()) + ": " + c.seen + "\n";
    args.push_back(c.arg);
  }
  const RunResult r = run_clean(tree, args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
}

TEST(Fault, BlockRightUpToTheAreasLastByte) {
  AppTree tree;
  BurnedInData block;
  block.main_class = "probe.Probe";
  block.jvm_options = {"-Djava.class.path=" + tree.probe_class_path(),
                       "-Dprobe.actions=prop-length:fill", "-Dfill="};
  const std::size_t fill = kLaunchAreaSize - 1 - encode_block(block).size();
  block.jvm_options.back() += std::string(fill, 'f');
  std::vector<std::string> burn_args = {"--main-class", block.main_class};
  for (const std::string& option : block.jvm_options)
    burn_args.insert(burn_args.end(), {"--java-option", option});

  // One byte more is refused: ValidateBlock's unit test.
  const RunResult burned = tree.burn(burn_args);
  ASSERT_EQ(burned.status, 0) << burned.err;
  const RunResult r = run_clean(tree);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "prop-length fill=" + std::to_string(fill) + "\n");
  EXPECT_EQ(run_pack({"show", tree.launcher()}).status, 0);
}

TEST(Fault, PackerRefusesFilesItCannotRead) {
  AppTree tree;
  const std::string& dir = tree.temp_root();
  const std::vector<std::string> burn = {"burn",         "--output",  tree.launcher(),
                                         "--main-class", "demo.Main", "--template"};
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      // Each of these once aborted (a directory) or read until memory ran out;
      // every reader now shares one bounded read (the file unit's table).
      {{"show", dir}, "vorlane-pack: cannot read " + dir + ": Is a directory\n"},
      {{"@/dev/zero"}, "vorlane-pack: cannot read /dev/zero: it holds more than 256 MiB\n"},
      {joined(burn, {dir}), "vorlane-pack: cannot read " + dir + ": Is a directory\n"},
      {joined(burn, {"/dev/zero"}),
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
  std::vector<std::string> argv = joined(
      joined({"/bin/sh", "-c", R"(ulimit -v 524288 && exec "$@")", "sh"}, Setup::get().emulator),
      {launcher});
  for (int i = 0; i < 15; ++i) argv.emplace_back(kMaxArgStrlen - 2, '&');
  const RunResult r = run_process(argv);
  fs::rename(deep + "/app", tree.home());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Not enough memory for the JVM options.\n");
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace vorlane::e2e
