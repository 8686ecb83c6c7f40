// The Swing demo's packages (target swing-demo-packages) checked with a
// distribution's own tools; installing them is scripts/check-packages.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "e2e/app_tree.h"

namespace fs = std::filesystem;

namespace vorlane::e2e {
namespace {

using testing::HasSubstr;

const std::string kSource = VORLANE_SOURCE_DIR;
/// The packages to check: the host build's, or VORLANE_E2E_SWING_PACKAGES
/// (scripts/check-packages points it at the AArch64 build's).
const std::string kPackages = [] {
  const char* other = std::getenv("VORLANE_E2E_SWING_PACKAGES");
  return std::string(other != nullptr && *other != '\0' ? other : VORLANE_SWING_PACKAGES_DIR);
}();
constexpr const char* kName = "vorlane-notes";

std::vector<std::string> files_ending(const std::string& dir, const std::string& suffix) {
  std::vector<std::string> found;
  if (!fs::is_directory(dir)) return found;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().string().ends_with(suffix)) found.push_back(e.path().string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

/// Lines of a linter's report that hold `tag` (" E: ", " W: ", ...).
std::vector<std::string> tagged(const std::string& report, const std::string& tag) {
  std::vector<std::string> found;
  for (const std::string& line : lines(report)) {
    if (line.find(tag) != std::string::npos) found.push_back(line);
  }
  return found;
}

/// The packages, each .deb unpacked once for the suite.
class PackageCheck : public testing::Test {
 protected:
  struct Unpacked {
    std::string deb;
    std::string root;     ///< its files
    std::string control;  ///< its control archive
  };
  struct Shared {
    ScopedTempDir dir;
    std::vector<Unpacked> debs;
    std::vector<std::string> rpms;
  };
  static void SetUpTestSuite() {
    shared_ = std::make_unique<Shared>();
    for (const std::string& deb : files_ending(kPackages, ".deb")) {
      const std::string base = shared_->dir.path() + "/" + fs::path(deb).stem().string();
      Unpacked u{deb, base + "/root", base + "/control"};
      fs::create_directories(u.root);
      if (run_process({"/usr/bin/dpkg-deb", "-x", deb, u.root}).ok() &&
          run_process({"/usr/bin/dpkg-deb", "-e", deb, u.control}).ok()) {
        shared_->debs.push_back(u);
      }
    }
    shared_->rpms = files_ending(kPackages, ".rpm");
  }
  static void TearDownTestSuite() { shared_.reset(); }
  void SetUp() override {
    ASSERT_FALSE(shared_->debs.empty()) << "no .deb in " << kPackages;
    ASSERT_FALSE(shared_->rpms.empty()) << "no .rpm in " << kPackages;
  }
  static const Shared& shared() { return *shared_; }
  /// The .deb of this machine, or null.
  static const Unpacked* host_deb() {
#if defined(__x86_64__)
    const std::string suffix = "_amd64.deb";
#else
    const std::string suffix = "_arm64.deb";
#endif
    for (const Unpacked& u : shared().debs) {
      if (u.deb.ends_with(suffix)) return &u;
    }
    return nullptr;
  }
  static std::unique_ptr<Shared> shared_;
};
std::unique_ptr<PackageCheck::Shared> PackageCheck::shared_;

TEST_F(PackageCheck, LintersFindNoError) {
  const struct {
    std::vector<std::string> linter;
    std::vector<std::string> packages;
    std::string error_tag;
  } cases[] = {
      {{"/usr/bin/lintian", "--tag-display-limit", "0"}, {}, "E: "},
      // Its configuration leaves out the tags of an app with its own runtime.
      {{"/usr/bin/rpmlint", "-c", kSource + "/scripts/rpmlint.toml"}, shared().rpms, ": E: "},
  };
  for (auto c : cases) {
    if (c.packages.empty()) {
      for (const Unpacked& u : shared().debs) c.packages.push_back(u.deb);
    }
    for (const std::string& package : c.packages) {
      std::vector<std::string> argv = c.linter;
      argv.push_back(package);
      const RunResult r = run_process(argv);
      EXPECT_TRUE(r.started) << r.error << ": scripts/install-deps installs it";
      EXPECT_THAT(tagged(r.out, c.error_tag), testing::IsEmpty()) << package << "\n"
                                                                  << r.out << r.err;
    }
  }
}

/// The .rpm's scriptlets, each as a shell script of its own in `dir`.
std::vector<std::string> rpm_scriptlets(const std::string& rpm, const std::string& dir) {
  const RunResult r = run_process({"/usr/bin/rpm", "-qp", "--scripts", rpm});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> files;
  std::ofstream out;
  for (const std::string& line : lines(r.out)) {
    // "postinstall scriptlet (using /bin/sh):" heads each one.
    if (line.find(" scriptlet (using ") != std::string::npos && line.ends_with("):")) {
      EXPECT_THAT(line, HasSubstr("(using /bin/sh)")) << rpm;
      files.push_back(dir + "/" + fs::path(rpm).stem().string() + "." +
                      line.substr(0, line.find(' ')));
      out = std::ofstream(files.back());
      out << "#!/bin/sh\n";
    } else if (out.is_open()) {
      out << line << "\n";
    }
  }
  return files;
}

TEST_F(PackageCheck, DesktopEntryMetainfoAndInstallScriptsPassTheirValidators) {
  std::vector<std::string> scripts = {"/usr/bin/shellcheck"};
  for (const Unpacked& u : shared().debs) {
    const auto desktop = files_ending(u.root + "/usr/share/applications", ".desktop");
    const auto metainfo = files_ending(u.root + "/usr/share/metainfo", ".metainfo.xml");
    ASSERT_EQ(desktop.size(), 1u) << u.deb;
    ASSERT_EQ(metainfo.size(), 1u) << u.deb;
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{"/usr/bin/desktop-file-validate", desktop[0]},
          std::vector<std::string>{"/usr/bin/appstreamcli", "validate", "--no-net", metainfo[0]}}) {
      const RunResult r = run_process(argv);
      EXPECT_EQ(r.status, 0) << argv[0] << " " << u.deb << ": " << r.out << r.err << r.error;
    }
    for (const char* s : {"preinst", "postinst", "prerm", "postrm"}) {
      if (fs::exists(u.control + "/" + s)) scripts.push_back(u.control + "/" + s);
    }
  }
  for (const std::string& rpm : shared().rpms) {
    for (const std::string& file : rpm_scriptlets(rpm, shared().dir.path()))
      scripts.push_back(file);
  }
  if (scripts.size() == 1) return;
  const RunResult checked = run_process(scripts);
  EXPECT_EQ(checked.status, 0) << checked.out << checked.err << checked.error;
}

TEST_F(PackageCheck, TheWindowsClassIsTheDesktopEntrysStartupWMClass) {
  for (const char* t : {"/usr/bin/xvfb-run", "/usr/bin/xdotool", "/usr/bin/xprop"}) {
    if (!fs::exists(t)) GTEST_SKIP() << "no " << t << ": the window class is not checked";
  }
  if (emulated()) GTEST_SKIP() << "the host's .deb only";
  const Unpacked* host = host_deb();
  ASSERT_NE(host, nullptr) << "no .deb of this machine in " << kPackages;
  const auto desktop = files_ending(host->root + "/usr/share/applications", ".desktop");
  ASSERT_EQ(desktop.size(), 1u);
  std::string want;
  for (const std::string& line : lines(read_text(desktop[0]))) {
    if (line.starts_with("StartupWMClass=")) want = line.substr(15);
  }
  ASSERT_FALSE(want.empty()) << desktop[0] << " has no StartupWMClass";
  RunOptions options;
  options.timeout_seconds = 600;  // only ends a window that never comes
  // The demo is single instance: its own runtime folder keeps any other
  // vorlane-notes of this user (another test, another display) from taking
  // this launch and opening the file in its window instead.
  const std::string runtime_dir = host->root + "/run-user";
  fs::create_directories(runtime_dir);
  fs::permissions(runtime_dir, fs::perms::owner_all);
  const RunResult r =
      run_process({"/usr/bin/env", "XDG_RUNTIME_DIR=" + runtime_dir, "/usr/bin/xvfb-run", "-a",
                   "-s", "-screen 0 1024x768x24", kSource + "/scripts/window-class",
                   host->root + "/opt/" + kName + "/bin/" + kName, "Vorlane Notes",
                   kSource + "/demo/swing/welcome.vnote"},
                  options);
  ASSERT_EQ(r.status, 0) << r.err;
  // WM_CLASS = "sun-awt-X11-XFramePeer", "notes-Main"
  EXPECT_THAT(r.out, HasSubstr("\"" + want + "\"\n")) << r.err;
}

/// The desktop entry takes vnote: links (%u), and a second launch with one
/// opens its note in the running window instead of a window of its own.
TEST_F(PackageCheck, ALinkOpensItsNoteInTheRunningWindow) {
  for (const char* t : {"/usr/bin/xvfb-run", "/usr/bin/xdotool"}) {
    if (!fs::exists(t)) GTEST_SKIP() << "no " << t << ": links are not checked";
  }
  if (emulated()) GTEST_SKIP() << "the host's .deb only";
  const Unpacked* deb = host_deb();
  ASSERT_NE(deb, nullptr) << "no .deb of this machine in " << kPackages;
  const auto desktop = files_ending(deb->root + "/usr/share/applications", ".desktop");
  ASSERT_EQ(desktop.size(), 1u);
  const std::string entry = read_text(desktop[0]);
  EXPECT_THAT(entry, HasSubstr("Exec=/usr/bin/vorlane-notes %u\n"));
  EXPECT_THAT(entry, HasSubstr(";x-scheme-handler/vnote;"));
  // Each wait is xdotool's own; the limits only end a window that never comes.
  const std::string script = R"sh(set -eu
"$1" >/dev/null 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' EXIT
timeout 300 xdotool search --sync --onlyvisible --name '^Vorlane Notes$' >/dev/null
"$1" 'vnote://note?title=From%20a%20link&text=Milk%0ABread'
timeout 300 xdotool search --sync --onlyvisible --name '^Vorlane Notes - From a link$' >/dev/null
echo "windows $(xdotool search --onlyvisible --name '^Vorlane Notes' | wc -l)"
)sh";
  const std::string runtime_dir = shared().dir.path() + "/run-user-link";
  fs::create_directories(runtime_dir);
  fs::permissions(runtime_dir, fs::perms::owner_all);
  RunOptions options;
  options.timeout_seconds = 700;
  const RunResult r =
      run_process({"/usr/bin/env", "XDG_RUNTIME_DIR=" + runtime_dir, "/usr/bin/xvfb-run", "-a",
                   "-s", "-screen 0 1024x768x24", "/bin/sh", "-c", script, "sh",
                   deb->root + "/opt/" + kName + "/bin/" + kName},
                  options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "windows 1\n") << r.err;
}

}  // namespace
}  // namespace vorlane::e2e
