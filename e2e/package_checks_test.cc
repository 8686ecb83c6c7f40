// The Swing demo's packages (target swing-demo-packages) checked as a
// distribution would, with its own tools: lintian, rpmlint,
// desktop-file-validate, appstreamcli, shellcheck on the install scripts,
// and the window's class under a virtual X server against the desktop
// entry's StartupWMClass. None of this needs root; installing does
// (scripts/check-packages).
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

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
  static std::unique_ptr<Shared> shared_;
};
std::unique_ptr<PackageCheck::Shared> PackageCheck::shared_;

void require_tool(const std::string& path) {
  ASSERT_TRUE(fs::exists(path)) << path << " is missing: scripts/install-deps installs it";
}

TEST_F(PackageCheck, LintianFindsNoError) {
  require_tool("/usr/bin/lintian");
  for (const Unpacked& u : shared().debs) {
    const RunResult r = run_process({"/usr/bin/lintian", "--tag-display-limit", "0", u.deb});
    EXPECT_THAT(tagged(r.out, "E: "), testing::IsEmpty()) << u.deb << "\n" << r.out << r.err;
  }
}

TEST_F(PackageCheck, RpmlintFindsNoErrorButTheTagsItsConfigurationLeavesOut) {
  require_tool("/usr/bin/rpmlint");
  for (const std::string& rpm : shared().rpms) {
    const RunResult r =
        run_process({"/usr/bin/rpmlint", "-c", kSource + "/scripts/rpmlint.toml", rpm});
    EXPECT_THAT(tagged(r.out, ": E: "), testing::IsEmpty()) << rpm << "\n" << r.out << r.err;
  }
}

TEST_F(PackageCheck, DesktopEntryMetainfoAndInstallScriptsPassTheirValidators) {
  require_tool("/usr/bin/desktop-file-validate");
  require_tool("/usr/bin/appstreamcli");
  require_tool("/usr/bin/shellcheck");
  for (const Unpacked& u : shared().debs) {
    const auto desktop = files_ending(u.root + "/usr/share/applications", ".desktop");
    const auto metainfo = files_ending(u.root + "/usr/share/metainfo", ".metainfo.xml");
    ASSERT_EQ(desktop.size(), 1u) << u.deb;
    ASSERT_EQ(metainfo.size(), 1u) << u.deb;
    const RunResult entry = run_process({"/usr/bin/desktop-file-validate", desktop[0]});
    EXPECT_EQ(entry.status, 0) << u.deb << ": " << entry.out << entry.err;
    const RunResult info = run_process({"/usr/bin/appstreamcli", "validate", "--no-net", metainfo[0]});
    EXPECT_EQ(info.status, 0) << u.deb << ": " << info.out << info.err;
    std::vector<std::string> scripts = {"/usr/bin/shellcheck"};
    for (const char* s : {"preinst", "postinst", "prerm", "postrm"}) {
      if (fs::exists(u.control + "/" + s)) scripts.push_back(u.control + "/" + s);
    }
    if (scripts.size() == 1) continue;
    const RunResult checked = run_process(scripts);
    EXPECT_EQ(checked.status, 0) << u.deb << ": " << checked.out << checked.err;
  }
}

TEST_F(PackageCheck, RpmScriptletsPassShellcheck) {
  require_tool("/usr/bin/shellcheck");
  for (const std::string& rpm : shared().rpms) {
    const RunResult r = run_process({"/usr/bin/rpm", "-qp", "--scripts", rpm});
    ASSERT_EQ(r.status, 0) << r.err;
    // "postinstall scriptlet (using /bin/sh):" heads each one.
    std::vector<std::pair<std::string, std::string>> scriptlets;
    for (const std::string& line : lines(r.out)) {
      if (line.find(" scriptlet (using ") != std::string::npos && line.ends_with("):")) {
        scriptlets.emplace_back(line, "#!/bin/sh\n");
      } else if (!scriptlets.empty()) {
        scriptlets.back().second += line + "\n";
      }
    }
    for (const auto& [head, body] : scriptlets) {
      EXPECT_THAT(head, HasSubstr("(using /bin/sh)")) << rpm;
      const std::string file = shared().dir.path() + "/scriptlet.sh";
      std::ofstream(file) << body;
      const RunResult checked = run_process({"/usr/bin/shellcheck", file});
      EXPECT_EQ(checked.status, 0) << rpm << " " << head << "\n" << body << checked.out;
    }
  }
}

TEST_F(PackageCheck, TheWindowsClassIsTheDesktopEntrysStartupWMClass) {
  for (const char* t : {"/usr/bin/xvfb-run", "/usr/bin/xdotool", "/usr/bin/xprop"}) {
    if (!fs::exists(t)) GTEST_SKIP() << "no " << t << ": the window class is not checked";
  }
  if (emulated()) GTEST_SKIP() << "the host's .deb only";
#if defined(__x86_64__)
  const std::string suffix = "_amd64.deb";
#else
  const std::string suffix = "_arm64.deb";
#endif
  const Unpacked* host = nullptr;
  for (const Unpacked& u : shared().debs) {
    if (u.deb.ends_with(suffix)) host = &u;
  }
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
  const RunResult r = run_process(
      {"/usr/bin/xvfb-run", "-a", "-s", "-screen 0 1024x768x24", kSource + "/scripts/window-class",
       host->root + "/opt/" + kName + "/bin/" + kName, "Vorlane Notes",
       kSource + "/demo/swing/welcome.vnote"},
      options);
  ASSERT_EQ(r.status, 0) << r.err;
  // WM_CLASS = "sun-awt-X11-XFramePeer", "notes-Main"
  EXPECT_THAT(r.out, HasSubstr("\"" + want + "\"\n")) << r.err;
}

}  // namespace
}  // namespace vorlane::e2e
