// The app class-data archive `vorlane-pack app --app-cds` makes for the
// runtime under test, its kind picked by the runtime's version.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>

#include "e2e/app_tree.h"
#include "pack/core/strings.h"
#include "pack/image/archive_policy.h"
#include "pack/jdk/jdk.h"

namespace fs = std::filesystem;

namespace vorlane::e2e {
namespace {

using testing::AllOf;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;

/// The stale app's jars, built beside the probe's.
std::string stale_jar(const std::string& name) {
  return (fs::path(Setup::get().probe_jar).parent_path() / ("stale-" + name + ".jar")).string();
}

/// Runs the launcher with `user_options` in VORLANE_JVM_OPTIONS.
RunResult start(const std::string& launcher, const std::string& user_options = "") {
  RunOptions options;
  if (!user_options.empty()) options.env["VORLANE_JVM_OPTIONS"] = user_options;
  return run_target({launcher}, options);
}

/// Runs `vorlane-pack app --quiet` with the runtime under test as the JDK.
RunResult pack_quietly(const std::string& name, const std::string& in, const std::string& dest,
                       const std::vector<std::string>& args, const RunOptions& options = {}) {
  return run_pack(joined({"app", "--template", Setup::get().template_path(), "--name", name,
                          "--input", in, "--dest", dest, "--jdk", Setup::get().runtime, "--quiet"},
                         args),
                  options);
}

/// The kind of archive made for the runtime under test.
std::optional<ArchiveKind> runtime_archive_kind() {
  return archive_kind_for(release_java_version(read_text(Setup::get().runtime + "/release")));
}

TEST(Archive, ChangedRemovedOrAddedJarsNeverRunOldClassesAndTheOutputStaysClean) {
  // jlink and the training runs under an emulator cost minutes.
  if (emulated()) GTEST_SKIP() << "packs with jlink; runs natively only";
  const std::string runtime = Setup::get().runtime;
  const std::optional<ArchiveKind> kind = runtime_archive_kind();
  ASSERT_TRUE(kind) << runtime << " gives no JAVA_VERSION";

  const ScopedTempDir root;
  const std::string in = root.path() + "/in";
  fs::create_directories(in);
  fs::copy_file(stale_jar("main"), in + "/main.jar");
  fs::copy_file(stale_jar("util-v1"), in + "/util.jar");
  const auto old_time = fs::last_write_time(in + "/util.jar") - std::chrono::hours(24 * 365);
  fs::last_write_time(in + "/util.jar", old_time);
  const RunResult made =
      pack_quietly("stale", in, root.path() + "/dest",
                   {"--main-jar", "main.jar", "--main-class", "stale.Main", "--allow-java-option",
                    "-Xlog", "--allow-java-option", "-XX:-UseCompressedOops", "--app-cds"});
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(without_glibc_lines(made.err), "");
  const std::string home = root.path() + "/dest/stale";
  const std::string file = archive_file_name(*kind);
  EXPECT_THAT(entries(home + "/lib/app"),
              ElementsAre("main.jar", "util.jar", file, "vorlane-launcher.jar"));
  EXPECT_THAT(read_text(home + "/lib/vorlane-app.conf"),
              HasSubstr("\narchive=" + archive_kind_name(*kind) + "\n"));
  EXPECT_EQ(fs::last_write_time(home + "/lib/app/util.jar"), old_time);  // jar times kept
  EXPECT_THAT(class_source(home + "/bin/stale", "stale.Util"), StartsWith("shared objects file"));

  // Each step changes the tree further; the app prints what the jars hold.
  const std::string moved = root.path() + "/moved";
  const std::string util = moved + "/lib/app/util.jar";
  const struct {
    const char* what;
    std::function<void()> change;
    std::string user_options;
    int status;
    std::string out;
  } steps[] = {
      {"an option that rejects the archive", [] {}, "-XX:-UseCompressedOops", 0, "v1\n"},
      {"the tree moved", [&] { fs::rename(home, moved); }, "", 0, "v1\n"},
      {"util.jar rebuilt, same size",
       [&] {
         fs::remove(util);
         fs::copy_file(stale_jar("util-v2"), util);
       },
       "", 0, "v2\n"},
      {"util.jar removed", [&] { fs::remove(util); }, "", 1, ""},
      {"util.jar added again", [&] { fs::copy_file(stale_jar("util-v2"), util); }, "", 0, "v2\n"},
  };
  for (const auto& s : steps) {
    s.change();
    const RunResult r = start((fs::exists(moved) ? moved : home) + "/bin/stale", s.user_options);
    EXPECT_EQ(r.status, s.status) << s.what << ": " << r.err;
    EXPECT_EQ(r.out, s.out) << s.what;
    if (s.status == 0) {
      EXPECT_EQ(r.err, "") << s.what;
    } else {
      EXPECT_THAT(r.err, AllOf(HasSubstr("NoClassDefFoundError"), HasSubstr("stale/Util")))
          << s.what;
    }
  }

  // `vorlane-pack cds` makes the same kind again, for the jars as they are now.
  const RunResult remade = run_pack({"cds", "--quiet", moved});
  ASSERT_EQ(remade.status, 0) << remade.err;
  EXPECT_THAT(entries(moved + "/lib/app"),
              ElementsAre("main.jar", "util.jar", file, "vorlane-launcher.jar"));
  EXPECT_THAT(class_source(moved + "/bin/stale", "stale.Util"), StartsWith("shared objects file"));
  const RunResult r = start(moved + "/bin/stale");
  EXPECT_EQ(r.out, "v2\n");
  EXPECT_EQ(r.err, "");
  const std::string other_option = file == kAppArchiveName ? "AOTCache" : "SharedArchiveFile";
  EXPECT_THAT(run_pack({"show", moved + "/bin/stale"}).out,
              AllOf(HasSubstr(file), Not(HasSubstr(other_option))));
}

TEST(Archive, ADesktopAppThatNeverEndsGetsItsArchiveOnTheGivenOrAPrivateDisplay) {
  if (emulated()) GTEST_SKIP() << "packs with jlink; runs natively only";
  if (!fs::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "no /usr/bin/Xvfb (scripts/install-deps)";
  const std::optional<ArchiveKind> kind = runtime_archive_kind();
  ASSERT_TRUE(kind) << Setup::get().runtime << " gives no JAVA_VERSION";
  const Xvfb display;
  ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";

  // The app's window keeps it running: only the Java side's end of a
  // training run at the first window gives it an archive.
  const struct {
    const char* what;
    std::optional<std::string> display;
  } cases[] = {{"the packer's display", display.name()}, {"no DISPLAY", std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const ScopedTempDir root;
    fs::create_directories(root.path() + "/in");
    fs::copy_file(VORLANE_WINDOW_APP_JAR, root.path() + "/in/window-app.jar");
    RunOptions options;
    options.env["DISPLAY"] = c.display;
    const RunResult made = run_pack(
        {"app", "--template", Setup::get().template_path(), "--name", "wapp", "--input",
         root.path() + "/in", "--dest", root.path(), "--jdk", Setup::get().runtime, "--main-class",
         "windowapp.WindowApp", "--allow-java-option", "-Xlog", "--app-cds"},
        options);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_THAT(without_glibc_lines(made.err), Not(HasSubstr("note:")));
    std::smatch number;
    const bool private_display =
        std::regex_search(made.err, number, std::regex("its windows on a private Xvfb :([0-9]+)"));
    EXPECT_EQ(private_display, !c.display) << made.err;
    if (private_display) {
      // Stopped cleanly: Xvfb removes its socket and lock as it ends.
      EXPECT_FALSE(fs::exists("/tmp/.X11-unix/X" + number[1].str()));
      EXPECT_FALSE(fs::exists("/tmp/.X" + number[1].str() + "-lock"));
    }
    EXPECT_THAT(entries(root.path() + "/wapp/lib/app"),
                ElementsAre(archive_file_name(*kind), "vorlane-launcher.jar", "window-app.jar"));

    // The app maps its main class from the archive and shows its window.
    Child app({root.path() + "/wapp/bin/wapp"},
              {{{"DISPLAY", display.name()}, {"VORLANE_JVM_OPTIONS", "-Xlog:class+load=info"}},
               false,
               true,
               ""});
    EXPECT_TRUE(app.wait_for("windowapp.WindowApp source: shared objects file")) << app.output();
    EXPECT_TRUE(app.wait_for("WindowApp: shown")) << app.output();
  }
}

TEST(Archive, AManifestClassPathOutsideTheTreeKeepsTheArchiveUnlessItNamesAFolderWithFiles) {
  if (emulated()) GTEST_SKIP() << "packs with jlink; runs natively only";
  const std::optional<ArchiveKind> kind = runtime_archive_kind();
  ASSERT_TRUE(kind) << Setup::get().runtime << " gives no JAVA_VERSION";
  const struct {
    const char* class_path;
    bool archive;
  } cases[] = {{"../x.jar lib/util.jar", true}, {"../", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.class_path);
    const ScopedTempDir root;
    const std::string in = root.path() + "/in";
    fs::create_directories(in);
    fs::copy_file(stale_jar("main"), in + "/main.jar");
    fs::copy_file(stale_jar("util-v1"), in + "/util.jar");
    std::ofstream(root.path() + "/manifest.txt") << "Class-Path: " << c.class_path << "\n";
    const RunResult updated =
        run_process({Setup::get().runtime + "/bin/jar", "--update", "--file", in + "/main.jar",
                     "--manifest", root.path() + "/manifest.txt"});
    ASSERT_EQ(updated.status, 0) << updated.err;
    const RunResult made = pack_quietly("stale", in, root.path() + "/dest",
                                        {"--main-jar", "main.jar", "--main-class", "stale.Main",
                                         "--allow-java-option", "-Xlog", "--app-cds"});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string launcher = root.path() + "/dest/stale/bin/stale";
    if (c.archive) {
      EXPECT_EQ(without_glibc_lines(made.err), "");
      EXPECT_THAT(class_source(launcher, "stale.Main"), StartsWith("shared objects file"));
    } else {
      EXPECT_THAT(made.err, HasSubstr("no app archive: lib/app/main.jar names the folder '../' in "
                                      "its manifest's Class-Path"));
      EXPECT_FALSE(fs::exists(root.path() + "/dest/stale/lib/app/" + archive_file_name(*kind)));
    }
    EXPECT_EQ(start(launcher).out, "v1\n");
  }
}

/// Debian's Maven: its jars, and the class loader launcher they come with.
constexpr char kMavenLib[] = "/usr/share/maven/lib";
constexpr char kMavenBoot[] = "/usr/share/maven/boot";

TEST(Archive, ARealAppThatReadsItsOwnResourcesGetsItsArchiveAndMapsItAtFixedTimes) {
  if (emulated()) GTEST_SKIP() << "packs with jlink; runs natively only";
  if (!fs::is_directory(kMavenLib)) GTEST_SKIP() << "no Maven at " << kMavenLib;
  const std::string runtime = Setup::get().runtime;
  const std::optional<ArchiveKind> kind = runtime_archive_kind();
  ASSERT_TRUE(kind) << runtime << " gives no JAVA_VERSION";

  // MavenCli straight from the class path: `mvn` itself starts it in a class
  // loader of its own, whose classes no class-path archive holds. `-v` reads
  // the build's properties from Maven's jars and ends.
  const ScopedTempDir root;
  const std::string in = root.path() + "/in";
  fs::create_directories(in);
  for (const char* folder : {kMavenLib, kMavenBoot}) {
    for (const auto& e : fs::directory_iterator(folder)) {
      if (e.path().extension() == ".jar")
        fs::copy_file(e.path(), in + "/" + e.path().filename().string());
    }
  }
  constexpr time_t kEpoch = 1700000000;
  RunOptions epoch_options;
  epoch_options.env["SOURCE_DATE_EPOCH"] = std::to_string(kEpoch);
  const RunResult made = pack_quietly(
      "mvn", in, root.path() + "/dest",
      {"--main-class", "org.apache.maven.cli.MavenCli", "--java-option",
       "-Dmaven.multiModuleProjectDirectory=&&", "--allow-java-option", "-Xlog", "--app-cds=-v"},
      epoch_options);
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(without_glibc_lines(made.err), "");  // no note that the archive is missing
  const std::string home = root.path() + "/dest/mvn";
  // Every file has the epoch's time, the archive's jars before it was made.
  const std::string files[] = {"/lib/app/maven-core-3.x.jar", "/lib/app/vorlane-launcher.jar",
                               "/lib/app/" + archive_file_name(*kind), "/bin/mvn"};
  for (const std::string& file : files) {
    struct stat st {};
    ASSERT_EQ(stat((home + file).c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_mtime, kEpoch) << file;
  }

  RunOptions options;
  options.env["VORLANE_JVM_OPTIONS"] = "-Xlog:class+load=info";
  const RunResult r = run_target({home + "/bin/mvn", "-v"}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Apache Maven"));
  EXPECT_THAT(r.out, HasSubstr("] org.apache.maven.cli.MavenCli source: shared objects file"));
}

/// Debian's jEdit, a Swing editor: its jar and the modes and properties it
/// reads beside it.
constexpr char kJeditHome[] = "/usr/share/jedit";

TEST(Archive, ARealDesktopAppGetsItsArchiveOnAPrivateDisplayAndMapsItsWindowClasses) {
  if (emulated()) GTEST_SKIP() << "packs with jlink; runs natively only";
  if (!fs::exists(kJeditHome + std::string("/jedit.jar")))
    GTEST_SKIP() << "no jEdit at " << kJeditHome;
  if (!fs::exists("/usr/bin/Xvfb")) GTEST_SKIP() << "no /usr/bin/Xvfb (scripts/install-deps)";
  const Xvfb display;
  ASSERT_FALSE(display.name().empty()) << "Xvfb did not start";
  const ScopedTempDir root;
  fs::create_directories(root.path() + "/in");
  for (const auto& e : fs::directory_iterator(kJeditHome)) {
    // Its doc is a link into /usr/share/doc, which a minimal system leaves out.
    if (e.path().filename() == "doc") continue;
    fs::copy(e.path(), root.path() + "/in/" + e.path().filename().string(),
             fs::copy_options::recursive);
  }
  // Its settings go to a home of its own; the training run has no DISPLAY.
  fs::create_directories(root.path() + "/home");
  RunOptions options;
  options.env["HOME"] = root.path() + "/home";
  options.env["DISPLAY"] = std::nullopt;
  const RunResult made =
      pack_quietly("jedit", root.path() + "/in", root.path() + "/dest",
                   {"--main-jar", "jedit.jar", "--main-class", "org.gjt.sp.jedit.jEdit",
                    "--allow-java-option", "-Xlog", "--app-cds"},
                   options);
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(without_glibc_lines(made.err), "");  // no note that the archive is missing

  Child app({root.path() + "/dest/jedit/bin/jedit"},
            {{{"HOME", root.path() + "/home"},
              {"DISPLAY", display.name()},
              {"VORLANE_JVM_OPTIONS", "-Xlog:class+load=info"}},
             false,
             true,
             ""});
  EXPECT_TRUE(app.wait_for("] org.gjt.sp.jedit.View source: shared objects file")) << app.output();
}

}  // namespace
}  // namespace vorlane::e2e
