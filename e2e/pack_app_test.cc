// `vorlane-pack app` and `vorlane-pack cds`, end to end: real jdeps, jlink
// and training runs. jlink takes seconds, so the suite makes one probe tree
// with it and builds the other trees from that tree's runtime.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "e2e/app_tree.h"

namespace fs = std::filesystem;

namespace vorlane::e2e {
namespace {

using testing::AllOf;
using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

/// `--emulator` and the emulator's command when the launcher under test is
/// for another machine; nothing otherwise.
std::vector<std::string> emulator_option() {
  const Setup& setup = Setup::get();
  if (setup.emulator.empty()) return {};
  std::string words;
  for (const std::string& w : setup.emulator) words += (words.empty() ? "" : " ") + w;
  return {"--emulator", words};
}

/// Runs `vorlane-pack app` with `args`, the template under test and, for a
/// launcher of another machine, its emulator.
RunResult pack_app(const std::vector<std::string>& args, const RunOptions& options = {}) {
  return run_pack(
      joined(joined({"app", "--template", Setup::get().template_path()}, args), emulator_option()),
      options);
}

/// Runs `vorlane-pack cds` with `args` (and the emulator, as above).
RunResult pack_cds(const std::vector<std::string>& args) {
  return run_pack(joined(joined({"cds"}, emulator_option()), args));
}

/// The progress line of the runtime's class-data archive: jlink writes it
/// for a runtime of this machine, the emulator for one of another.
std::string runtime_line(const std::string& modules) {
  return emulated()
             ? "vorlane-pack: jlink: runtime of " + modules + " ("
             : "vorlane-pack: jlink: runtime of " + modules + " with its class-data archive (";
}

/// Options that run the packer without VORLANE_EMULATOR in its environment.
RunOptions without_emulator_variable() {
  RunOptions options;
  options.env["VORLANE_EMULATOR"] = std::nullopt;
  return options;
}

/// Copies the template under test and its jar into `dir` as `dir`/launcher,
/// marked as built for RISC-V: a launcher for another machine.
std::string foreign_template(const std::string& dir) {
  fs::create_directories(dir);
  fs::copy_file(Setup::get().template_path(), dir + "/launcher");
  fs::copy_file(Setup::get().launcher_jar(), dir + "/vorlane-launcher.jar");
  std::fstream launcher(dir + "/launcher", std::ios::in | std::ios::out | std::ios::binary);
  launcher.seekp(18);
  launcher.write("\xF3\x00", 2);
  return dir + "/launcher";
}

class PackApp : public testing::Test {
 protected:
  /// The probe packaged once with jlink and an app archive, shared by the suite.
  static void SetUpTestSuite() {
    root_ = std::make_unique<ScopedTempDir>();
    const std::string in = input();
    fs::create_directories(in + "/data");
    fs::copy_file(Setup::get().probe_jar, in + "/probe.jar");
    std::ofstream(in + "/data/readme.txt") << "not a jar\n";
    made_ = pack_app({"--name", "probe", "--input", in, "--main-jar", "probe.jar", "--main-class",
                      "probe.Probe", "--dest", root() + "/dest", "--jdk", Setup::get().runtime,
                      "--allow-java-option", "-Xlog", "--allow-java-option", "-Dprobe.",
                      "--app-cds=train ing"});
  }
  static void TearDownTestSuite() { root_.reset(); }

  void SetUp() override { ASSERT_EQ(made_.status, 0) << made_.err; }

  static std::string root() { return root_->path(); }
  static std::string input() { return root() + "/in"; }
  static std::string home() { return root() + "/dest/probe"; }
  static std::string runtime() { return home() + "/lib/runtime"; }

  static std::unique_ptr<ScopedTempDir> root_;
  static RunResult made_;
};

std::unique_ptr<ScopedTempDir> PackApp::root_;
RunResult PackApp::made_;

TEST_F(PackApp, ReportsEachSlowStepOnALineWithItsTime) {
  std::vector<std::string> err = lines(without_glibc_lines(made_.err));
  EXPECT_THAT(made_.err, HasSubstr("\nvorlane-pack: glibc: 2."));
  if (emulated() && err.size() > 2) {
    EXPECT_THAT(err[2], StartsWith("vorlane-pack: runtime: default class-data archive of "));
    err.erase(err.begin() + 2);
  }
  ASSERT_EQ(err.size(), 4u) << made_.err;
  EXPECT_THAT(err[0], StartsWith("vorlane-pack: jdeps: the jars need java.base,java.management ("));
  EXPECT_THAT(err[1], StartsWith(runtime_line("2 modules")));
  EXPECT_THAT(err[2], StartsWith("vorlane-pack: training run: app archive of "));
  EXPECT_THAT(err[3], StartsWith("vorlane-pack: made " + home() + ": bin/probe starts it ("));
  for (const std::string& line : err) EXPECT_THAT(line, testing::EndsWith(" s)"));
  EXPECT_EQ(made_.out, "");
}

TEST_F(PackApp, TreeHoldsTheLauncherTheInputAndAMinimalRuntimeWithItsArchive) {
  EXPECT_THAT(entries(root() + "/dest"), ElementsAre("probe"));  // nothing half-made beside it
  EXPECT_THAT(entries(home() + "/bin"), ElementsAre("probe"));   // no training launcher left
  EXPECT_TRUE(fs::status(home() + "/bin/probe").permissions() == fs::perms(0755));
  EXPECT_THAT(entries(home() + "/lib/app"),
              ElementsAre("data", "probe.jar", "vorlane-app.jsa", "vorlane-launcher.jar"));
  EXPECT_EQ(read_text(home() + "/lib/app/data/readme.txt"), "not a jar\n");
  EXPECT_GT(fs::file_size(runtime() + "/lib/server/classes.jsa"), 1000000u);
  EXPECT_THAT(read_text(runtime() + "/release"),
              HasSubstr("MODULES=\"java.base java.management\""));
  EXPECT_FALSE(fs::exists(runtime() + "/include"));
  EXPECT_FALSE(fs::exists(runtime() + "/man"));
  EXPECT_THAT(
      read_text(home() + "/lib/vorlane-app.conf"),
      AllOf(HasSubstr("name=probe\n"), HasSubstr("training-arg=train\ntraining-arg=ing\n")));
}

TEST_F(PackApp, StartsWithTheAppsClassesMappedFromItsArchive) {
  const RunResult r = run_target({home() + "/bin/probe", "x"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "argc 1\narg 0: x\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(class_source(home() + "/bin/probe", "probe.Probe"), "shared objects file (top)");
  EXPECT_EQ(class_source(home() + "/bin/probe", "java.lang.Object"), "shared objects file");
}

TEST_F(PackApp, MovedTreeStartsCleanlyAndCdsRemakesItsArchive) {
  const std::string moved = root() + "/installed/probe";
  fs::create_directories(root() + "/installed");
  fs::copy(home(), moved, fs::copy_options::recursive);
  const std::string launcher = moved + "/bin/probe";

  // The archive names the old paths: not used, and nothing said about it.
  const RunResult r = run_target({launcher});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "argc 0\n");
  EXPECT_EQ(r.err, "");
  EXPECT_THAT(class_source(launcher, "probe.Probe"),
              StartsWith("file:" + moved + "/lib/app/probe.jar"));
  EXPECT_EQ(class_source(launcher, "java.lang.Object"), "shared objects file");

  const RunResult remade = pack_cds({moved, "--", "again"});
  ASSERT_EQ(remade.status, 0) << remade.err;
  EXPECT_THAT(remade.err, StartsWith("vorlane-pack: training run: app archive of "));
  EXPECT_EQ(class_source(launcher, "probe.Probe"), "shared objects file (top)");
  EXPECT_THAT(read_text(moved + "/lib/vorlane-app.conf"), HasSubstr("training-arg=again\n"));
  EXPECT_THAT(entries(moved + "/bin"), ElementsAre("probe"));

  // Run again without arguments: quiet, and the recorded ones are used.
  const RunResult quiet = pack_cds({"--quiet", moved});
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  EXPECT_THAT(read_text(moved + "/lib/vorlane-app.conf"), HasSubstr("training-arg=again\n"));
}

TEST_F(PackApp, MakingItAgainReplacesTheEarlierTreeWhole) {
  const std::string dest = root() + "/again";
  const std::vector<std::string> common = {"--name",          "probe",       "--input", input(),
                                           "--main-class",    "probe.Probe", "--dest",  dest,
                                           "--runtime-image", runtime(),     "--quiet"};
  const std::string image = root() + "/logo.png";  // with a variant for screens scaled twice
  for (const std::string& file : {image, root() + "/logo@2x.png"}) {
    std::ofstream(file) << "\x89PNG\r\n\x1a\n";
  }
  const RunResult first = pack_app(joined(common, {"--app-cds", "--splash", image}));
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(without_glibc_lines(first.err), "");
  EXPECT_TRUE(fs::exists(dest + "/probe/lib/app/vorlane-app.jsa"));
  EXPECT_TRUE(fs::exists(dest + "/probe/lib/app/splash@2x.png"));
  EXPECT_THAT(run_pack({"show", dest + "/probe/bin/probe"}).out,
              AllOf(HasSubstr("] -splash:&&/splash.png\n"), HasSubstr("\nsplash: ")));

  const RunResult second = pack_app(common);
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_FALSE(fs::exists(dest + "/probe/lib/app/vorlane-app.jsa"));
  EXPECT_FALSE(fs::exists(dest + "/probe/lib/app/splash.png"));
  EXPECT_THAT(run_pack({"show", dest + "/probe/bin/probe"}).out,
              Not(HasSubstr("SharedArchiveFile")));
  EXPECT_THAT(entries(dest), ElementsAre("probe"));
  const RunResult r = run_target({dest + "/probe/bin/probe", "y"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "argc 1\narg 0: y\n");

  // Once lost without a word: a file a user added inside the tree.
  std::ofstream(dest + "/probe/lib/app/user.properties") << "mine\n";
  const RunResult third = pack_app(common);
  EXPECT_EQ(third.status, 2);
  EXPECT_THAT(third.err, HasSubstr("--dest:\n  lib/app/user.properties\n"));
  EXPECT_TRUE(fs::exists(dest + "/probe/lib/app/user.properties"));
}

TEST_F(PackApp, AFailedTrainingRunShipsTheAppWithoutTheArchive) {
  const struct {
    std::string actions;
    std::string timeout;
    std::string message;
    int run_status;  // of the shipped app; -1: not run
  } cases[] = {
      {"exit:3", "60", "vorlane-pack: note: no app archive: the training run exited with status 3",
       3},
      {"block", "2",
       "vorlane-pack: note: no app archive: the training run did not finish within 2 s", -1},
  };
  for (const auto& c : cases) {
    const std::string dest = root() + "/failed";
    fs::remove_all(dest);
    const RunResult made = pack_app({"--name", "probe", "--input", input(), "--main-class",
                                     "probe.Probe", "--dest", dest, "--runtime-image", runtime(),
                                     "--java-option", "-Dprobe.actions=" + c.actions, "--app-cds",
                                     "--training-timeout", c.timeout, "--quiet"});
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_THAT(made.err, StartsWith(c.message));
    EXPECT_THAT(made.err, HasSubstr("vorlane-pack: note: the app is made without it"));
    EXPECT_THAT(entries(dest + "/probe/lib/app"),
                ElementsAre("data", "probe.jar", "vorlane-launcher.jar"));
    EXPECT_THAT(entries(dest + "/probe/bin"), ElementsAre("probe"));
    EXPECT_THAT(run_pack({"show", dest + "/probe/bin/probe"}).out,
                Not(HasSubstr("SharedArchiveFile")));
    if (c.run_status >= 0) {
      EXPECT_EQ(run_target({dest + "/probe/bin/probe"}).status, c.run_status);
    }
  }
}

TEST_F(PackApp, LauncherForAnotherMachineSkipsTheArchivesWithANote) {
  // A template and a runtime that claim another machine (RISC-V): the tree is
  // made, the class-data steps that would have to run them are not.
  const std::string other = root() + "/other";
  const std::string launcher = foreign_template(other);
  fs::create_directories(other + "/runtime/lib/server");
  std::string header(64, '\0');
  header.replace(0, 6, "\177ELF\2\1");
  header[18] = static_cast<char>(243);
  std::ofstream(other + "/runtime/lib/server/libjvm.so", std::ios::binary) << header;
  const RunResult made =
      run_pack({"app", "--template", launcher, "--name", "probe", "--input", input(),
                "--main-class", "probe.Probe", "--dest", other + "/dest", "--runtime-image",
                other + "/runtime", "--app-cds", "--quiet"},
               without_emulator_variable());
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_THAT(
      made.err,
      StartsWith("vorlane-pack: note: the launcher is built for RISC-V and this machine is "));
  EXPECT_THAT(
      made.err,
      HasSubstr(
          "so the runtime's default class-data archive and the app archive cannot be made here"));
  // The stand-in libjvm.so is only a header: no floor can be read from it.
  EXPECT_THAT(made.err, HasSubstr("vorlane-pack: note: cannot tell which glibc the app needs: "));
  EXPECT_EQ(lines(made.err).size(), 2u) << made.err;
  EXPECT_TRUE(fs::exists(other + "/dest/probe/bin/probe"));
  EXPECT_FALSE(fs::exists(other + "/dest/probe/lib/app/vorlane-app.jsa"));
  // Remaking the archive there needs the emulator too.
  const RunResult cds = run_pack({"cds", other + "/dest/probe"}, without_emulator_variable());
  EXPECT_EQ(cds.status, 2);
  EXPECT_THAT(cds.err, HasSubstr("cannot be made here"));
}

TEST_F(PackApp, RefusesBadInputWithStatus2AndTouchesNothing) {
  const std::string users = root() + "/users";
  fs::create_directories(users + "/probe");
  std::ofstream(users + "/probe/notes.txt") << "mine\n";
  // The template for another machine than the runtime it is given.
  const std::string other = foreign_template(root() + "/other-template");
  const std::string dest = root() + "/refused";
  const std::vector<std::string> base = {"--name",          "probe",       "--input", input(),
                                         "--main-class",    "probe.Probe", "--dest",  dest,
                                         "--runtime-image", runtime()};
  const std::map<std::string, std::optional<std::string>> no_jdk = {{"JAVA_HOME", std::nullopt},
                                                                    {"PATH", "/nonexistent"}};
  const struct {
    std::vector<std::string> args;
    std::map<std::string, std::optional<std::string>> env;
    std::string message;
  } cases[] = {
      {{"--name", "probe", "--input", input(), "--main-class", "probe.Probe", "--dest", dest},
       no_jdk,
       "vorlane-pack: no JDK found: set JAVA_HOME to a JDK (17 or later), or put a JDK's javac on "
       "PATH"},
      // A later value wins.
      {joined(base, {"--dest", users}),
       {},
       "vorlane-pack: " + users +
           "/probe exists and is not an app tree made by vorlane-pack (it has no "
           "lib/vorlane-app.conf); the packer will not replace it"},
      {joined(base, {"--template", other}),
       {},
       "the launcher template is built for RISC-V, but --runtime-image " + runtime() + " is for "},
      {{"--name", "probe"}, {}, "--input is required"},
      {joined(base, {"--splash", input() + "/probe.jar"}), {}, "is not a PNG, GIF or JPEG image"},
  };
  for (const auto& c : cases) {
    RunOptions options;
    options.env = c.env;
    const RunResult r = pack_app(c.args, options);
    EXPECT_EQ(r.status, 2) << c.message << "\n" << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.message));
    EXPECT_FALSE(fs::exists(dest)) << c.message;
  }
  EXPECT_THAT(entries(users), ElementsAre("probe"));
  EXPECT_THAT(entries(users + "/probe"), ElementsAre("notes.txt"));

  const RunResult not_a_tree = run_pack({"cds", users + "/probe"});
  EXPECT_EQ(not_a_tree.status, 2);
  EXPECT_THAT(
      not_a_tree.err,
      HasSubstr("is not an app tree made by vorlane-pack app (it has no lib/vorlane-app.conf)"));
}

/// Writes `text` to `path`, making its folder.
void write_source(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path) << text;
}

TEST(PackJars, AModularJarBesideTheAutomaticJarItRequiresPacksWithANote) {
  if (emulated()) GTEST_SKIP() << "packs with jlink; runs natively only";
  // As Debian's jaxb-api.jar (requires java.activation) beside its
  // javax.activation.jar, an automatic module by its manifest: `java -cp`
  // runs them, jdeps on the jars alone finds no module my.activation.
  const ScopedTempDir root;
  const std::string src = root.path() + "/src";
  const std::string in = root.path() + "/in";
  fs::create_directories(in);
  write_source(src + "/act/act/api/Act.java",
               "package act.api; public class Act { public static String name() { return "
               "\"act\"; } }");
  write_source(src + "/mod/module-info.java",
               "module modx { requires my.activation; requires java.sql; exports modx.api; }");
  write_source(src + "/mod/modx/api/Api.java",
               "package modx.api; public class Api { public static String name() { return "
               "act.api.Act.name() + \" \" + java.sql.Connection.class.getName(); } }");
  write_source(src + "/app/app/Main.java",
               "package app; public class Main { public static void main(String[] a) { "
               "System.out.println(modx.api.Api.name()); } }");
  write_source(src + "/act.mf", "Automatic-Module-Name: my.activation\n");
  const std::string bin = Setup::get().runtime + "/bin/";
  const std::vector<std::vector<std::string>> steps = {
      {bin + "javac", "-d", src + "/act.out", src + "/act/act/api/Act.java"},
      {bin + "jar", "--create", "--file", in + "/activation.jar", "--manifest", src + "/act.mf",
       "-C", src + "/act.out", "."},
      {bin + "javac", "-d", src + "/mod.out", "--module-path", in + "/activation.jar",
       src + "/mod/module-info.java", src + "/mod/modx/api/Api.java"},
      {bin + "jar", "--create", "--file", in + "/modx-api.jar", "-C", src + "/mod.out", "."},
      {bin + "javac", "-d", src + "/app.out", "-cp", in + "/modx-api.jar:" + in + "/activation.jar",
       src + "/app/app/Main.java"},
      {bin + "jar", "--create", "--file", in + "/app.jar", "-C", src + "/app.out", "."},
  };
  for (const std::vector<std::string>& step : steps) {
    const RunResult r = run_process(step);
    ASSERT_EQ(r.status, 0) << step[0] << ": " << r.err;
  }
  const RunResult made = pack_app({"--name", "modx", "--input", in, "--main-jar", "app.jar",
                                   "--main-class", "app.Main", "--dest", root.path() + "/dest",
                                   "--jdk", Setup::get().runtime, "--quiet"});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_THAT(made.err, StartsWith("vorlane-pack: note: jdeps refused the jars as given (Module "
                                   "my.activation not found, required by modx); with them on its "
                                   "module path too, it found the modules they need: "));
  EXPECT_THAT(made.err, HasSubstr("java.sql"));
  const RunResult r = run_target({root.path() + "/dest/modx/bin/modx"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "act java.sql.Connection\n");
}

}  // namespace
}  // namespace vorlane::e2e
