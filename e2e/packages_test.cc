// `vorlane-pack package` end to end, with the installed packer: a small app
// tree (the real launcher template, a stand-in runtime) packaged as .deb,
// .rpm and .tar.gz. Two builds from copies in different folders give the
// same bytes; the packages hold what they should; bad input and hostile
// metadata are refused with status 2 and nothing written, or come out
// exactly as given, with nothing run and no script or field added.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

#include "e2e/app_tree.h"

namespace fs = std::filesystem;

namespace vorlane::e2e {
namespace {

using testing::HasSubstr;
using testing::Not;

constexpr const char* kEpoch = "1700000000";

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

/// Runs a tool of this machine; the test fails when it does not exit with 0.
std::string tool(const std::vector<std::string>& argv) {
  const RunResult r = run_process(argv);
  EXPECT_EQ(r.status, 0) << argv[0] << " " << (argv.size() > 1 ? argv[1] : "") << ": " << r.err
                         << r.error;
  return r.out;
}

/// The C library's zlib of this machine: an ELF library of the right
/// machine that stands in for libjvm.so (only its machine and NEEDED matter).
std::string stand_in_library() {
  for (const std::string& line : lines(tool({"/sbin/ldconfig", "-p"}))) {
    if (line.find("libz.so.1 ") == std::string::npos) continue;
    if (line.find("x86-64") == std::string::npos && line.find("AArch64") == std::string::npos)
      continue;
    return fs::canonical(line.substr(line.rfind(' ') + 1)).string();
  }
  throw std::runtime_error("ldconfig -p lists no libz.so.1 of this machine");
}

/// DIR/tiny as `vorlane-pack app` lays a tree out, with a stand-in runtime.
std::string make_tiny_tree(const std::string& dir) {
  const Setup& setup = Setup::get();
  const std::string tree = dir + "/tiny";
  fs::create_directories(tree + "/bin");
  fs::create_directories(tree + "/lib/app");
  fs::create_directories(tree + "/lib/runtime/lib/server");
  const RunResult burned = run_pack(
      {"burn", "--output", tree + "/bin/tiny", "--template", setup.template_path(), "--main-class",
       "tiny.Main", "--java-option", "-Djava.class.path=&&/tiny.jar:&&/vorlane-launcher.jar"});
  if (burned.status != 0)
    throw std::runtime_error("vorlane-pack burn: " + burned.err + burned.error);
  fs::copy_file(setup.launcher_jar(), tree + "/lib/app/tiny.jar");
  fs::copy_file(setup.launcher_jar(), tree + "/lib/app/vorlane-launcher.jar");
  fs::copy_file(stand_in_library(), tree + "/lib/runtime/lib/server/libjvm.so");
  write_text(tree + "/lib/vorlane-app.conf", "name=tiny\n");
  return tree;
}

/// The options every package here is made with; `extra` come after them.
std::vector<std::string> package_args(const std::string& tree, const std::string& dest,
                                      const std::string& types,
                                      const std::vector<std::string>& extra = {}) {
  std::vector<std::string> args = {"package",
                                   "--quiet",
                                   "--type",
                                   types,
                                   tree,
                                   "--dest",
                                   dest,
                                   "--app-version",
                                   "1.2",
                                   "--release",
                                   "3",
                                   "--maintainer",
                                   "Ann Example <ann@example.org>",
                                   "--description",
                                   "A tiny app"};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

RunResult package(const std::vector<std::string>& args, const std::string& working_directory = "") {
  RunOptions options;
  options.env["SOURCE_DATE_EPOCH"] = kEpoch;
  options.working_directory = working_directory;
  return run_pack(args, options);
}

#if defined(__aarch64__)
const std::string kDeb = "tiny_1.2-3_arm64.deb", kRpm = "tiny-1.2-3.aarch64.rpm",
                  kTar = "tiny-1.2-linux-aarch64.tar.gz";
#else
const std::string kDeb = "tiny_1.2-3_amd64.deb", kRpm = "tiny-1.2-3.x86_64.rpm",
                  kTar = "tiny-1.2-linux-x86_64.tar.gz";
#endif

/// An icon, a file type with its own icon and a dependency of the packager's.
std::vector<std::string> desktop_options() {
  const std::string demo = std::string(VORLANE_SOURCE_DIR) + "/demo/swing/";
  return {"--icon",
          demo + "notes.svg",
          "--file-association",
          "extension=tiny,mime-type=application/x-tiny,icon=" + demo + "notes/icon.png",
          "--url-scheme",
          "tiny",
          "--package-deps",
          "default-jre-headless | java-runtime"};
}

/// The field names of a .deb's control file, in order.
std::vector<std::string> control_fields(const std::string& deb) {
  std::vector<std::string> names;
  for (const std::string& line : lines(tool({"/usr/bin/dpkg-deb", "-f", deb}))) {
    if (!line.empty() && line[0] != ' ') names.push_back(line.substr(0, line.find(':')));
  }
  return names;
}

/// The member names of a .deb's control archive (control, md5sums, postinst, ...).
std::set<std::string> control_members(const std::string& deb, const std::string& scratch) {
  fs::remove_all(scratch);
  tool({"/usr/bin/dpkg-deb", "-e", deb, scratch});
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(scratch)) names.insert(e.path().filename().string());
  return names;
}

/// One tree, packaged once in the suite; the tests share it.
class Packages : public testing::Test {
 protected:
  struct Shared {
    ScopedTempDir root;
    std::string tree;
    std::string out;  ///< the packages made from `tree`, in all three formats
    RunResult made;
  };
  // A failure here must fail each test: gtest would report them skipped.
  static void SetUpTestSuite() {
    shared_ = std::make_unique<Shared>();
    if (emulated()) return;
    try {
      make_packages();
    } catch (const std::exception& e) {
      shared_->made.err = e.what();
    }
  }
  static void make_packages() {
    const std::string dir = shared_->root.path() + "/one";
    fs::create_directories(dir);
    shared_->tree = make_tiny_tree(dir);
    shared_->out = shared_->root.path() + "/out1";
    // A relative tree path, from the tree's folder.
    shared_->made =
        package(package_args("tiny", shared_->out, "deb,rpm,tar.gz", desktop_options()), dir);
  }
  static void TearDownTestSuite() { shared_.reset(); }
  void SetUp() override {
    // The packer runs on the build machine either way: the host build tests it.
    if (emulated()) GTEST_SKIP() << "packages the host build's trees; runs natively only";
    ASSERT_EQ(shared_->made.status, 0) << shared_->made.err;
  }

  static const Shared& shared() { return *shared_; }
  static std::unique_ptr<Shared> shared_;
};
std::unique_ptr<Packages::Shared> Packages::shared_;

TEST_F(Packages, TwoBuildsFromCopiesInOtherFoldersGiveTheSameBytes) {
  const std::string other = shared().root.path() + "/two/deeper";
  fs::create_directories(other);
  fs::copy(shared().tree, other + "/tiny", fs::copy_options::recursive);
  const std::string out2 = shared().root.path() + "/out2";
  const RunResult made =
      package(package_args(other + "/tiny", out2, "deb,rpm,tar.gz", desktop_options()));
  ASSERT_EQ(made.status, 0) << made.err;
  for (const std::string& name : {kDeb, kRpm, kTar}) {
    const std::string one = read_text(shared().out + "/" + name);
    ASSERT_FALSE(one.empty()) << name << " not made";
    EXPECT_TRUE(one == read_text(out2 + "/" + name)) << name << " differs between two builds";
    EXPECT_THAT(one, Not(HasSubstr(shared().root.path()))) << name << " holds the build folder";
  }
}

TEST_F(Packages, HoldTheTreeTheDesktopFilesAndTheirDependencies) {
  const std::string deb = shared().out + "/" + kDeb;
  const std::string listing = tool({"/usr/bin/dpkg-deb", "-c", deb});
  for (const char* entry :
       {"./opt/tiny/bin/tiny", "./usr/bin/tiny -> /opt/tiny/bin/tiny",
        "./usr/share/applications/app.tiny.desktop",
        "./usr/share/icons/hicolor/48x48/apps/app.tiny.png",
        "./usr/share/icons/hicolor/scalable/apps/app.tiny.svg",
        "./usr/share/icons/hicolor/64x64/mimetypes/application-x-tiny.png",
        "./usr/share/metainfo/app.tiny.metainfo.xml", "./usr/share/mime/packages/app.tiny.xml",
        "./usr/share/doc/tiny/copyright", "./usr/share/doc/tiny/changelog.Debian.gz"}) {
    EXPECT_THAT(listing, HasSubstr(entry));
  }
  for (const std::string& line : lines(listing)) {
    EXPECT_THAT(line, HasSubstr(" root/root ")) << "a file in the .deb is not root's";
  }
  const std::string depends = tool({"/usr/bin/dpkg-deb", "-f", deb, "Depends"});
  EXPECT_THAT(depends, HasSubstr("libc6 (>= "));
  EXPECT_THAT(depends, HasSubstr("default-jre-headless | java-runtime"));

  const std::string x = shared().root.path() + "/x";
  tool({"/usr/bin/dpkg-deb", "-x", deb, x});
  EXPECT_THAT(tool({"/usr/bin/readelf", "-S", x + "/opt/tiny/bin/tiny"}),
              Not(HasSubstr(".debug_info")))
      << "the shipped launcher has debug information";
  const std::string shown = tool({Setup::get().pack, "show", x + "/opt/tiny/bin/tiny"});
  EXPECT_THAT(shown, HasSubstr("tiny.Main")) << "the stripped launcher lost its launch data";
  // The packages declare exactly the floor `show` finds in the installed tree.
  const auto floor_at = shown.find("\nglibc: ");
  ASSERT_NE(floor_at, std::string::npos) << shown;
  const std::string floor =
      shown.substr(floor_at + 8, shown.find(' ', floor_at + 8) - (floor_at + 8));
  EXPECT_THAT(depends, HasSubstr("libc6 (>= " + floor + ")"));
  const std::string entry = x + "/usr/share/applications/app.tiny.desktop";
  EXPECT_THAT(read_text(entry), HasSubstr("\nStartupWMClass=tiny-Main\n"));
  // A link of the app's scheme opens it: %u, and the scheme's handler type.
  EXPECT_THAT(read_text(entry), HasSubstr("\nExec=/usr/bin/tiny %u\n"));
  EXPECT_THAT(read_text(entry),
              HasSubstr("\nMimeType=application/x-tiny;x-scheme-handler/tiny;\n"));
  const RunResult valid = run_process({"/usr/bin/desktop-file-validate", entry});
  EXPECT_EQ(valid.status, 0) << valid.out << valid.err;

  const std::string rpm = shared().out + "/" + kRpm;
  const std::string rpm_requires = tool({"/usr/bin/rpm", "-qp", "--requires", rpm});
  EXPECT_THAT(rpm_requires, HasSubstr("libc.so.6()"));
  EXPECT_THAT(rpm_requires, HasSubstr("libc.so.6(GLIBC_" + floor + ")"));
  EXPECT_THAT(lines(tool({"/bin/tar", "-tzf", shared().out + "/" + kTar})),
              testing::Contains("tiny/bin/tiny"));
}

TEST_F(Packages, RefuseBadInputWithStatus2AndWriteNothing) {
  const std::string& tree = shared().tree;
  const std::string refused = shared().root.path() + "/refused";
  const std::string text_icon = shared().root.path() + "/icon.png";
  write_text(text_icon, "not an image\n");
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::map<std::string, std::optional<std::string>> env;
    std::string message;
  } cases[] = {
      {"no dpkg-deb on PATH",
       {"package", "--type", "deb", tree, "--dest", refused, "--maintainer", "A <a@b.c>"},
       {{"PATH", refused + "/empty"}},
       "dpkg-deb"},
      {"text as an icon",
       package_args(tree, refused, "deb,rpm,tar.gz", {"--icon", text_icon}),
       {},
       "neither a PNG nor an SVG"},
      {"a URL scheme in capitals",
       package_args(tree, refused, "deb", {"--url-scheme", "Tiny"}),
       {},
       "no URL scheme in lower case"},
      {"a folder that is no app tree",
       {"package", "--type", "tar.gz", shared().root.path(), "--dest", refused},
       {},
       "not an app tree"},
      {"a feed key for a tree without the update library",
       package_args(tree, refused, "tar.gz",
                    {"--update-site", "http://127.0.0.1:8000", "--update-key", text_icon,
                     "--update-feed-key", text_icon}),
       {},
       "make the tree with `vorlane-pack app --updates`"},
  };
  for (const auto& c : cases) {
    fs::remove_all(refused);
    RunOptions options;
    options.env = c.env;
    options.env["SOURCE_DATE_EPOCH"] = kEpoch;
    const RunResult r = run_pack(c.args, options);
    EXPECT_EQ(r.status, 2) << c.what << ": " << r.err;
    EXPECT_THAT(r.err, HasSubstr(c.message)) << c.what;
    EXPECT_FALSE(fs::exists(refused)) << c.what << ": wrote " << refused;
  }
}

TEST_F(Packages, LinksOutOfTheTreeAreRefusedOrKeptAsLinks) {
  const std::string secret_dir = shared().root.path() + "/secret";
  fs::create_directories(secret_dir);
  const std::string secret = "not for the package 5f3a9c";
  write_text(secret_dir + "/shadow", secret + "\n");
  const struct {
    const char* what;
    std::string target;
  } cases[] = {
      {"an absolute link", secret_dir + "/shadow"},
      {"a relative link", "../../../../secret/shadow"},  // from links/tiny/lib/app
  };
  for (const auto& c : cases) {
    const std::string dir = shared().root.path() + "/links";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy(shared().tree, dir + "/tiny", fs::copy_options::recursive);
    fs::create_symlink(c.target, dir + "/tiny/lib/app/notes.txt");
    const std::string out = dir + "/out";
    const RunResult r = package(package_args(dir + "/tiny", out, "deb,rpm,tar.gz"));
    if (r.status == 2) {
      EXPECT_THAT(r.err, HasSubstr("notes.txt")) << c.what << ": the message names no link";
      EXPECT_FALSE(fs::exists(out)) << c.what;
      continue;
    }
    ASSERT_EQ(r.status, 0) << c.what << ": " << r.err;
    // Kept as a link: each format lists it as one, and the secret is in none.
    const std::string in_deb = tool({"/usr/bin/dpkg-deb", "-c", out + "/" + kDeb});
    const std::string in_rpm = tool({"/usr/bin/rpm", "-qplv", out + "/" + kRpm});
    const std::string in_tar = tool({"/bin/tar", "-tvzf", out + "/" + kTar});
    for (const std::string* listing : {&in_deb, &in_rpm, &in_tar}) {
      for (const std::string& line : lines(*listing)) {
        if (line.find("notes.txt") != std::string::npos) {
          EXPECT_EQ(line[0], 'l') << c.what << ": followed: " << line;
        }
      }
    }
    const std::string x = dir + "/x";
    tool({"/usr/bin/dpkg-deb", "-x", out + "/" + kDeb, x});
    EXPECT_TRUE(fs::is_symlink(x + "/opt/tiny/lib/app/notes.txt")) << c.what;
  }
}

/// Where a hostile value goes, and where the .rpm's header shows it again
/// (empty: only the .deb holds it).
struct Field {
  const char* option;
  const char* rpm_tag;
  const char* prefix = "";  ///< before the value, e.g. the maintainer's name
  const char* suffix = "";  ///< after it, e.g. the maintainer's address
};

TEST_F(Packages, HostileMetadataRunsNothingAddsNothingAndComesOutAsGiven) {
  const std::string& tree = shared().tree;
  const std::string marker = shared().root.path() + "/PWNED";
  const std::string touch = "touch " + marker;
  const std::string scratch = shared().root.path() + "/control";

  const std::vector<std::string> values = {
      "%(" + touch + ")",
      "%{lua: os.execute(\"" + touch + "\")}",
      "%define x %(" + touch + ")",
      "%global y 1",
      "ok\n\n%post\n" + touch,
      "ok\n%pre\n" + touch,
      "$(" + touch + ")",
      "`" + touch + "`",
      "ok; " + touch,
      "quotes \" ' \\ <b>&amp;",
      "ok\nPre-Depends: evil",
  };
  const Field fields[] = {
      {"--description", "%{SUMMARY}"},
      {"--long-description", "%{DESCRIPTION}"},
      {"--vendor", "%{VENDOR}"},
      {"--license-type", "%{LICENSE}"},
      {"--copyright", ""},
      {"--maintainer", "%{PACKAGER}", "", " <ann@example.org>"},
      {"--homepage", "%{URL}", "https://example.org/"},
  };
  // The options that put `bare` into each chosen field.
  const auto options_with = [&](const std::vector<const Field*>& chosen, const std::string& bare) {
    std::vector<std::string> options;
    for (const Field* field : chosen) {
      options.push_back(field->option);
      options.push_back(field->prefix + bare + field->suffix);
    }
    return options;
  };
  // What plain values in the same fields give, made once per set of fields.
  struct Plain {
    std::vector<std::string> fields;
    std::set<std::string> members;
    std::string scripts;
  };
  std::map<std::vector<const Field*>, Plain> plain_of;
  const auto plain_for = [&](const std::vector<const Field*>& chosen) -> const Plain* {
    if (const auto known = plain_of.find(chosen); known != plain_of.end()) return &known->second;
    const std::string dir = shared().root.path() + "/plain";
    fs::remove_all(dir);
    const RunResult made =
        package(package_args(tree, dir, "deb,rpm", options_with(chosen, "plain")));
    if (made.status != 0) {
      ADD_FAILURE() << "plain values: " << made.err;
      return nullptr;
    }
    return &(plain_of[chosen] = {control_fields(dir + "/" + kDeb),
                                 control_members(dir + "/" + kDeb, scratch),
                                 tool({"/usr/bin/rpm", "-qp", "--scripts", dir + "/" + kRpm})});
  };
  std::vector<const Field*> all;
  for (const Field& field : fields) all.push_back(&field);

  // One package per value, in every field that takes it. A refusal names
  // its option: that field has refused the value (a pass, if nothing was
  // written), and the value is tried again in the fields left. A refusal is
  // checked before anything is built, so each value costs one build.
  const std::string out = shared().root.path() + "/hostile";
  for (const std::string& bare : values) {
    std::vector<const Field*> taking = all;
    RunResult r;
    while (!taking.empty()) {
      fs::remove_all(out);
      r = package(package_args(tree, out, "deb,rpm", options_with(taking, bare)));
      EXPECT_FALSE(fs::exists(marker)) << "'" << bare << "': ran when the packages were made";
      fs::remove(marker);
      if (r.status != 2) break;
      EXPECT_FALSE(fs::exists(out)) << "'" << bare << "': refused, but wrote " << out;
      // "vorlane-pack: --option '...' ..." or "vorlane-pack: --option: ..."
      const auto at = r.err.find("--");
      const std::string named =
          at == std::string::npos ? "" : r.err.substr(at, r.err.find_first_of(" :'", at) - at);
      const auto refusing = std::find_if(
          taking.begin(), taking.end(), [&](const Field* field) { return named == field->option; });
      if (refusing == taking.end()) {
        ADD_FAILURE() << "'" << bare << "': refused, naming no field it was given in: " << r.err;
        break;
      }
      taking.erase(refusing);
    }
    if (taking.empty() || r.status == 2) continue;
    if (r.status != 0) {
      ADD_FAILURE() << "'" << bare << "': status " << r.status << ", not 0 or 2: " << r.err;
      continue;
    }
    const Plain* before = plain_for(taking);
    if (before == nullptr) continue;
    const std::string deb = out + "/" + kDeb, rpm = out + "/" + kRpm;
    EXPECT_EQ(control_fields(deb), before->fields)
        << "'" << bare << "': a control field came or went";
    EXPECT_EQ(control_members(deb, scratch), before->members)
        << "'" << bare << "': a maintainer script came";
    EXPECT_EQ(tool({"/usr/bin/rpm", "-qp", "--scripts", rpm}), before->scripts)
        << "'" << bare << "': a scriptlet came";
    for (const Field* field : taking) {
      const std::string value = field->prefix + bare + field->suffix;
      const std::string row = std::string(field->option) + " '" + value + "'";
      if (*field->rpm_tag != '\0') {
        EXPECT_EQ(tool({"/usr/bin/rpm", "-qp", "--qf", field->rpm_tag, rpm}), value)
            << row << ": the .rpm says something else";
      }
      if (std::string(field->option) == "--description") {
        EXPECT_EQ(lines(tool({"/usr/bin/dpkg-deb", "-f", deb, "Description"})).front(), value)
            << row << ": the .deb says something else";
      }
    }
  }
}

TEST_F(Packages, AJarNamedLikeAMacroRunsNothingAndKeepsItsName) {
  // A file name holds no '/', so the command finds its marker in the environment.
  const std::string marker = shared().root.path() + "/PWNED-by-a-name";
  for (const std::string jar :
       {"a%(touch $PWNED_AT).jar", "b%{lua: os.execute('touch '..os.getenv('PWNED_AT'))}.jar"}) {
    const std::string dir = shared().root.path() + "/named";
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::copy(shared().tree, dir + "/tiny", fs::copy_options::recursive);
    fs::copy_file(Setup::get().launcher_jar(), dir + "/tiny/lib/app/" + jar);
    RunOptions options;
    options.env = {{"SOURCE_DATE_EPOCH", kEpoch}, {"PWNED_AT", marker}};
    const RunResult r = run_pack(package_args(dir + "/tiny", dir + "/out", "rpm"), options);
    EXPECT_FALSE(fs::exists(marker)) << jar << ": ran when the .rpm was made";
    fs::remove(marker);
    if (r.status == 2) {  // refused, naming the jar
      EXPECT_THAT(r.err, HasSubstr(jar));
      continue;
    }
    ASSERT_EQ(r.status, 0) << jar << ": " << r.err;
    EXPECT_THAT(lines(tool({"/usr/bin/rpm", "-qpl", dir + "/out/" + kRpm})),
                testing::Contains("/opt/tiny/lib/app/" + jar));
  }
}

// A real tree (jlink, the demo app) made with the update library, and its
// tar.gz with a feed key: unpacked, its bin/NAME link starts the version it
// holds, with the library on the class path and the install record beside.
TEST_F(Packages, ATreeWithUpdatesStartsAndItsTarballStartsThroughItsLink) {
  const vorlane::e2e::Setup& setup = vorlane::e2e::Setup::get();
  const std::string dir = shared().root.path() + "/updates";
  fs::create_directories(dir + "/in");
  fs::copy_file(setup.demo_jar, dir + "/in/demo.jar");
  RunOptions epoch;
  epoch.env["SOURCE_DATE_EPOCH"] = kEpoch;
  const RunResult made =
      run_pack({"app", "--quiet", "--updates", "--template", setup.template_path(), "--name", "upd",
                "--input", dir + "/in", "--main-class", "demo.Main", "--dest", dir},
               epoch);
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string class_path = "&&/vorlane-launcher.jar:&&/vorlane-updater.jar";
  EXPECT_THAT(run_pack({"show", dir + "/upd/bin/upd"}).out, HasSubstr(class_path));
  const RunResult started = run_process({dir + "/upd/bin/upd"});
  ASSERT_EQ(started.status, 0) << started.err;
  EXPECT_THAT(started.out, HasSubstr("/upd/lib/app/vorlane-updater.jar"));

  tool({"/usr/bin/openssl", "genpkey", "-algorithm", "ed25519", "-out", dir + "/feed-key.pem"});
  tool({"/usr/bin/openssl", "pkey", "-in", dir + "/feed-key.pem", "-pubout", "-out",
        dir + "/feed-key.pub.pem"});
  // The site's apt and dnf key, which an update site needs; its agent is stopped after.
  const std::string gnupg = dir + "/gnupg";
  fs::create_directories(gnupg);
  fs::permissions(gnupg, fs::perms::owner_all);
  tool({"/usr/bin/gpg", "--homedir", gnupg, "--batch", "--passphrase", "", "--quick-generate-key",
        "Site <site@example.org>", "ed25519", "sign", "never"});
  write_text(dir + "/KEY.asc", tool({"/usr/bin/gpg", "--homedir", gnupg, "--armor", "--export"}));
  tool({"/usr/bin/gpgconf", "--homedir", gnupg, "--kill", "all"});
  const RunResult packaged = package(
      package_args(dir + "/upd", dir + "/out", "tar.gz",
                   {"--update-site", "http://127.0.0.1:8000", "--update-key", dir + "/KEY.asc",
                    "--update-feed-key", dir + "/feed-key.pub.pem", "--compression", "fast"}));
  ASSERT_EQ(packaged.status, 0) << packaged.err;
  const std::string tar =
      dir + "/out/upd-1.2-linux-" + std::string(kTar.substr(kTar.rfind('-') + 1));
  // Sorted, root's, at the epoch: the layout's folders and link, then the tree.
  const std::vector<std::string> listed = lines(tool({"/usr/bin/tar", "-tvzf", tar}));
  const std::string names[] = {"upd/", "upd/bin/", "upd/bin/upd -> ../versions/1.2-3/bin/upd",
                               "upd/versions/", "upd/versions/1.2-3/"};
  for (std::size_t i = 0; i < std::size(names); ++i) {
    EXPECT_THAT(listed.at(i), testing::AllOf(HasSubstr(" 0/0 "),
                                             testing::EndsWith(" 2023-11-14 22:13 " + names[i])));
  }

  const std::string unpacked = dir + "/home";
  fs::create_directories(unpacked);
  tool({"/usr/bin/tar", "-xzf", tar, "-C", unpacked});
  const std::string version = unpacked + "/upd/versions/1.2-3";
  const std::string record = read_text(version + "/lib/vorlane-update.properties");
  EXPECT_THAT(record, HasSubstr("kind=tarball\nname=upd\nversion=1.2-3\n"));
  EXPECT_THAT(record, HasSubstr("\nsite=http://127.0.0.1:8000\nchannel=stable\nfeed-key=MCow"));
  const RunResult linked = run_process({unpacked + "/upd/bin/upd"});
  ASSERT_EQ(linked.status, 0) << linked.err;
  EXPECT_THAT(linked.out, HasSubstr("app.dir = " + fs::canonical(version).string() + "/lib/app"));
}

}  // namespace
}  // namespace vorlane::e2e
