#include "pack/commands/app.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "testing/scoped_temp_dir.h"

namespace fs = std::filesystem;

namespace vorlane {
namespace {

// The probe reads what `app` is given; a --runtime-image keeps it from
// looking for a JDK, so no JVM runs.
AppOptions options_in(const std::string& t) {
  AppOptions o;
  o.name = "demo";
  o.input = t + "/input";
  o.main_class = "demo.Main";
  o.dest = t + "/dest";
  o.runtime_image = t + "/runtime";
  o.template_path = t + "/template";
  return o;
}

TEST(ProbeApp, WhereTheTreeGoesAndWhatItWouldOverlap) {
  const ScopedTempDir temp;
  const std::string& t = temp.path();
  fs::create_directories(t + "/input/sub");
  fs::create_directories(t + "/runtime");
  std::ofstream(t + "/file") << "x";
  std::ofstream(t + "/template") << "no launcher";
  const struct {
    std::string dest;
    bool dest_is_file;
    bool overlaps_input;
    bool overlaps_runtime;
  } cases[] = {
      {t + "/dest", false, false, false},
      {t + "/new/deeper", false, false, false},  // made on the way
      {t + "/file", true, false, false},
      {t + "/file/below", true, false, false},
      {t + "/input", false, true, false},  // the tree would go in what it copies
      {t + "/input/sub", false, true, false},
      {t + "/runtime", false, false, true},
  };
  for (const auto& c : cases) {
    AppOptions o = options_in(t);
    o.dest = c.dest;
    const AppFacts f = probe_app(o);
    EXPECT_EQ(f.home, c.dest + "/demo");
    EXPECT_EQ(f.dest_is_file, c.dest_is_file) << c.dest;
    EXPECT_EQ(f.home_overlaps_input, c.overlaps_input) << c.dest;
    EXPECT_EQ(f.home_overlaps_runtime_image, c.overlaps_runtime) << c.dest;
    // A file where a folder must be is never looked into for an earlier tree.
    EXPECT_EQ(f.existing.has_value(), !c.dest_is_file) << c.dest;
  }
}

TEST(ProbeApp, ReadsTheInputTheTemplateAndTheEmulator) {
  const ScopedTempDir temp;
  const std::string& t = temp.path();
  fs::create_directories(t + "/input/lib");
  fs::create_directories(t + "/runtime");
  std::ofstream(t + "/input/lib/broken.jar") << "not a zip";
  std::ofstream(t + "/input/readme.txt") << "text";
  std::ofstream(t + "/template") << "no launcher";
  AppOptions o = options_in(t);
  o.emulator = "qemu-aarch64 -L /usr/aarch64-linux-gnu";
  const AppFacts f = probe_app(o);
  EXPECT_TRUE(f.input_is_folder);
  EXPECT_FALSE(f.input_error);
  // Every jar is opened; one that cannot be is an error of its own, not a skip.
  ASSERT_EQ(f.main_class_in.size(), 1u);
  EXPECT_FALSE(f.main_class_in.at("lib/broken.jar"));
  EXPECT_TRUE(f.template_error);
  EXPECT_EQ(f.launcher_jar, t + "/vorlane-launcher.jar");
  EXPECT_FALSE(f.launcher_jar_present);
  EXPECT_EQ(f.emulator_text, o.emulator);
  EXPECT_TRUE(f.runtime_image);
  EXPECT_FALSE(f.host_jdk_home);  // a runtime image needs no JDK

  o.input = t + "/template";  // a file, not a folder
  const AppFacts file_input = probe_app(o);
  EXPECT_FALSE(file_input.input_is_folder);
  EXPECT_TRUE(file_input.main_class_in.empty());
}

// A name the system cannot look up (too long, a loop of links) is the
// user's to fix: the probe says it is not there rather than throwing, which
// would end the packer as a failure of the machine.
TEST(ProbeApp, NamesThatCannotBeLookedUpAreNotThere) {
  const ScopedTempDir temp;
  const std::string& t = temp.path();
  fs::create_directories(t + "/runtime");
  fs::create_symlink(t + "/loop", t + "/loop");
  for (const std::string& bad : {t + "/" + std::string(300, 'a'), t + "/loop/x"}) {
    AppOptions o = options_in(t);
    o.input = bad;
    o.template_path = bad + "/template";
    o.splash = bad + "/splash.png";
    o.runtime_image = bad + "/runtime";
    AppFacts f;
    ASSERT_NO_THROW(f = probe_app(o)) << bad;
    EXPECT_FALSE(f.input_is_folder);
    EXPECT_FALSE(f.launcher_jar_present);
    EXPECT_TRUE(f.template_error);
    ASSERT_EQ(f.splash.size(), 1u);
    EXPECT_TRUE(f.splash[0].error);
    EXPECT_EQ(f.runtime_image->machine, 0);
  }
}

TEST(ProbeApp, SplashVariantsBySmallestScaleAndNothingButFilesRead) {
  const ScopedTempDir temp;
  const std::string& t = temp.path();
  fs::create_directories(t + "/img/splash@4x.png");  // a folder
  fs::create_directories(t + "/runtime");
  std::ofstream(t + "/img/splash.png") << "\x89PNG\r\n\x1a\nrest";
  std::ofstream(t + "/img/splash@3x.png") << "three";
  std::ofstream(t + "/img/splash@2x.png") << "two";
  std::ofstream(t + "/img/splash@1x.png") << "one";     // not a variant
  std::ofstream(t + "/img/other@2x.png") << "another";  // of another image
  // A FIFO would block a reader for ever: it must be refused unopened.
  ASSERT_EQ(mkfifo((t + "/img/splash@5x.png").c_str(), 0600), 0);
  AppOptions o = options_in(t);
  o.splash = t + "/img/splash.png";
  const AppFacts f = probe_app(o);
  const struct {
    std::string name;
    int scale;
    std::string head;
    bool refused;
  } expected[] = {
      {"splash.png", 1, "\x89PNG\r\n\x1a\n", false},
      {"splash@2x.png", 2, "two", false},
      {"splash@3x.png", 3, "three", false},
      {"splash@4x.png", 4, "", true},
      {"splash@5x.png", 5, "", true},
  };
  ASSERT_EQ(f.splash.size(), std::size(expected));
  for (std::size_t i = 0; i < f.splash.size(); ++i) {
    EXPECT_EQ(f.splash[i].path, t + "/img/" + expected[i].name);
    EXPECT_EQ(f.splash[i].scale, expected[i].scale);
    EXPECT_EQ(f.splash[i].head, expected[i].head);
    EXPECT_EQ(f.splash[i].error.has_value(), expected[i].refused) << expected[i].name;
    if (f.splash[i].error) {
      EXPECT_EQ(f.splash[i].error->kind, ErrorKind::kBadInput);
    }
  }
}

}  // namespace
}  // namespace vorlane
