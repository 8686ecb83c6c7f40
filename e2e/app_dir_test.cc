// The application directory, home expansion, class-path wildcards and the
// option dump, end to end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "e2e/app_tree.h"

namespace fs = std::filesystem;

namespace vorlane::e2e {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

/// The probe burned with relocatable options only: everything through &&,
/// the class path as a wildcard of the application directory.
void burn_relocatable(const AppTree& tree, const std::string& actions,
                      const std::vector<std::string>& extra = {}) {
  const RunResult r = tree.burn(
      joined({"--main-class", "probe.Probe", "--java-option", "-Djava.class.path=&&/*.jar",
              "--java-option", "-Dapp.dir=&&", "--java-option", "-Dprobe.actions=" + actions},
             extra));
  ASSERT_EQ(r.status, 0) << r.err;
}

std::string canonical(const std::string& path) { return fs::canonical(path).string(); }

TEST(AppDir, TreeMovedOrStartedThroughLinksStillStarts) {
  AppTree tree;
  burn_relocatable(tree, "prop:app.dir,args");
  const std::string app_dir = canonical(tree.app_dir());
  EXPECT_EQ(tree.run({"x"}).out, "prop app.dir=" + app_dir + "\nargc 1\narg 0: x\n");

  // A link to the executable from elsewhere: the tree is found all the same.
  const std::string link = tree.temp_root() + "/started-here";
  fs::create_symlink(tree.launcher(), link);
  const RunResult through_link = run_target({link});
  EXPECT_EQ(through_link.status, 0) << through_link.err;
  EXPECT_THAT(through_link.out, HasSubstr("prop app.dir=" + app_dir + "\n"));

  // The whole tree moved: the new place is used.
  const std::string moved = tree.temp_root() + "/moved";
  fs::rename(tree.home(), moved);
  const RunResult after_move = run_target({moved + "/bin/probe-app"});
  EXPECT_EQ(after_move.status, 0) << after_move.err;
  EXPECT_THAT(after_move.out, HasSubstr("prop app.dir=" + canonical(moved + "/lib/app") + "\n"));

  // lib/app a link to a folder elsewhere: the link's target is the directory.
  const std::string target = tree.temp_root() + "/elsewhere";
  fs::rename(moved + "/lib/app", target);
  fs::create_directory_symlink(target, moved + "/lib/app");
  const RunResult linked = run_target({moved + "/bin/probe-app"});
  EXPECT_EQ(linked.status, 0) << linked.err;
  EXPECT_THAT(linked.out, HasSubstr("prop app.dir=" + canonical(target) + "\n"));
}

TEST(AppDir, MissingLibAppLeavesTheCandidatePath) {
  AppTree tree;
  const std::string jars = tree.home() + "/lib/jars";
  fs::rename(tree.app_dir(), jars);
  const RunResult burned =
      tree.burn({"--main-class", "probe.Probe", "--java-option",
                 "-Djava.class.path=" + jars + "/probe.jar:" + jars + "/vorlane-launcher.jar",
                 "--java-option", "-Dapp.dir=&&", "--java-option", "-Dx=&&/x.jar", "--java-option",
                 "-Dprobe.actions=prop:app.dir,prop:x"});
  ASSERT_EQ(burned.status, 0) << burned.err;
  const RunResult r = tree.run();
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string candidate = canonical(tree.home() + "/bin") + "/../lib/app/";
  EXPECT_EQ(r.out, "prop app.dir=" + candidate + "\nprop x=" + candidate + "/x.jar\n");
}

/// A copy of the tree's launcher whose canonical path is exactly `length`
/// bytes: DEEP/.../bin/l, with lib/app and lib/runtime linked beside bin/.
std::string launcher_with_path_length(const AppTree& tree, std::size_t length) {
  const std::string tail = "/bin/l";
  std::string dir = canonical(tree.temp_root()) + "/deep";
  while (dir.size() + tail.size() < length) {
    // Each step adds '/' and a name of at most 200 bytes; never leave room
    // for just a '/', which would make an empty name.
    const std::size_t room = length - dir.size() - tail.size();
    std::size_t name = std::min<std::size_t>(room - 1, 200);
    if (room - 1 - name == 1) --name;
    dir += "/" + std::string(name, 'd');
  }
  fs::create_directories(dir + "/bin");
  fs::create_directories(dir + "/lib");
  fs::create_directory_symlink(tree.app_dir(), dir + "/lib/app");
  fs::create_directory_symlink(fs::read_symlink(tree.home() + "/lib/runtime"),
                               dir + "/lib/runtime");
  fs::copy_file(tree.launcher(), dir + tail);
  return dir + tail;
}

TEST(AppDir, ExecutablePathMustFitTheBuffer) {
  AppTree tree;
  burn_relocatable(tree, "args");
  const std::string fits = launcher_with_path_length(tree, 2047);
  ASSERT_EQ(fits.size(), 2047u);
  const RunResult started = run_target({fits, "ok"});
  EXPECT_EQ(started.status, 0) << started.err;
  EXPECT_EQ(started.out, "argc 1\narg 0: ok\n");

  AppTree other;
  burn_relocatable(other, "args");
  const std::string too_long = launcher_with_path_length(other, 2048);
  ASSERT_EQ(too_long.size(), 2048u);
  const RunResult refused = run_target({too_long});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err,
            "Insufficient buffer space to read the current path, try placing the app in a "
            "directory nearer the root.\n");
  EXPECT_EQ(refused.out, "");
}

TEST(OptionDump, PrintsTheFinalOptionsInOrderWhenSet) {
  AppTree tree;
  burn_relocatable(tree, "args", {"--allow-java-option", "-Dhome="});
  const std::string app_dir = canonical(tree.app_dir());
  const std::string jars[] = {app_dir + "/probe.jar", app_dir + "/vorlane-launcher.jar"};
  for (const std::optional<std::string>& dump :
       std::vector<std::optional<std::string>>{"", "1", std::nullopt}) {
    RunOptions options;
    options.env["VORLANE_DUMP_JVM_ARGS"] = dump;
    options.env["HOME"] = "/home/u";
    options.env["VORLANE_JVM_OPTIONS"] = "-Dhome=~/x:~/y";
    const RunResult r = tree.run({"a&&b", "x=~/y", "~/z"}, options);
    EXPECT_EQ(r.status, 0) << r.err;
    // The command record is rewritten, main's arguments are not.
    EXPECT_EQ(r.out, "argc 3\narg 0: a&&b\narg 1: x=~/y\narg 2: ~/z\n");
    if (!dump) {
      EXPECT_EQ(r.err, "");
      continue;
    }
    // Where each user option came from, as given; then the final options
    // (the wildcard lists the directory in the system's order), the crash
    // log's last.
    EXPECT_THAT(
        lines(r.err),
        ElementsAre(
            "JVM option from VORLANE_JVM_OPTIONS: -Dhome=~/x:~/y",
            testing::AnyOf("JVM arg 0: -Djava.class.path=" + jars[0] + ":" + jars[1],
                           "JVM arg 0: -Djava.class.path=" + jars[1] + ":" + jars[0]),
            "JVM arg 1: -Dapp.dir=" + app_dir, "JVM arg 2: -Dprobe.actions=args",
            "JVM arg 3: -Dsun.java.command=probe.Probe a" + app_dir + "b x=/home/u/y ~/z",
            "JVM arg 4: -Dhome=/home/u/x:/home/u/y",
            "JVM arg 5: -XX:ErrorFile=" + tree.temp_root() + "/state/probe-app/hs_err_pid%p.log"));
  }
}

}  // namespace
}  // namespace vorlane::e2e
