#include "pack/packages/package_plan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "pack/packages/package_plan_fixture.h"

namespace vorlane::packages {
namespace {

using plan_fixture::facts;
using plan_fixture::kX86_64;
using plan_fixture::options;

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

/// An update site and its key, as `publish` made them.
void site(PackageOptions& o, PackageFacts& f) {
  o.update_site = "https://e.org/a";
  o.update_key = "KEY.asc";
  f.update_key = Result<std::string>("-----BEGIN PGP PUBLIC KEY BLOCK-----\n");
}

/// --file-association VALUES, each probed as its own text.
void associate(PackageOptions& o, PackageFacts& f, const std::vector<std::string>& values) {
  o.file_associations = values;
  f.file_associations.clear();
  for (const std::string& v : values) f.file_associations.emplace_back(v);
}

TEST(PackagePlan, PlansFromGoodInput) {
  PackageOptions o = options();
  o.package_deps = {"default-jre | java-runtime (>= 17)"};
  const Result<PackagePlan> plan = plan_packages(o, facts());
  ASSERT_TRUE(plan.ok()) << plan.error().message;
  EXPECT_EQ(plan->types.size(), 3u);
  EXPECT_EQ(plan->info.install_dir, "/opt/notes");
  EXPECT_EQ(plan->info.app_id, "org.example.notes.notes");
  EXPECT_EQ(plan->info.deb_depends,
            (std::vector<std::string>{"default-jre | java-runtime (>= 17)", "libc6 (>= 2.36)"}));
  EXPECT_EQ(
      plan->info.rpm_requires,
      (std::vector<std::string>{"(default-jre or java-runtime >= 17)", "libc.so.6()(64bit)"}));
  EXPECT_EQ(plan->info.source_date_epoch, 1700000000);
}

TEST(PackagePlan, DependenciesStateTheTreesGlibcFloor) {
  const struct {
    const char* what;
    std::vector<GlibcNeed> needs;
    std::string deb_libc;
    std::string rpm_glibc;
  } cases[] = {
      {"the launcher sets it",
       {{{2, 17}, "bin/notes"}},
       "libc6 (>= 2.17)",
       "libc.so.6(GLIBC_2.17)(64bit)"},
      {"the runtime raises it",
       {{{2, 17}, "bin/notes"}, {{2, 34}, "lib/runtime/lib/libjli.so"}},
       "libc6 (>= 2.34)",
       "libc.so.6(GLIBC_2.34)(64bit)"},
      {"an old x86-64 floor",
       {{{2, 2, 5}, "bin/notes"}},
       "libc6 (>= 2.2.5)",
       "libc.so.6(GLIBC_2.2.5)(64bit)"},
  };
  for (const auto& c : cases) {
    PackageFacts f = facts();
    f.glibc_needs = Result<std::vector<GlibcNeed>>(c.needs);
    const Result<PackagePlan> plan = plan_packages(options(), f);
    ASSERT_TRUE(plan.ok()) << c.what << ": " << plan.error().message;
    // The shlibs file's "libc6 (>= 2.36)" is the build machine's glibc, not the tree's need.
    EXPECT_EQ(plan->info.deb_depends, (std::vector<std::string>{c.deb_libc})) << c.what;
    EXPECT_EQ(plan->info.rpm_requires,
              (std::vector<std::string>{"libc.so.6()(64bit)", c.rpm_glibc}))
        << c.what;
  }
  PackageFacts f = facts();
  f.glibc_needs = Result<std::vector<GlibcNeed>>(bad_input("/work/notes/lib/x.so: damaged"));
  const Result<PackagePlan> refused = plan_packages(options(), f);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().message, "/work/notes/lib/x.so: damaged");
}

TEST(PackagePlan, RefusesBadInput) {
  struct Case {
    const char* what;
    std::function<void(PackageOptions&, PackageFacts&)> change;
    const char* message;
  };
  const Case cases[] = {
      {"no type", [](auto& o, auto&) { o.types = {}; }, "--type is needed"},
      {"empty type", [](auto& o, auto&) { o.types = {""}; }, "an empty word"},
      {"unknown type", [](auto& o, auto&) { o.types = {"deb,zip"}; }, "'zip' is none of"},
      {"no tree", [](auto&, auto& f) { f.tree = bad_input("not an app tree"); }, "not an app tree"},
      {"other machine",
       [](auto&, auto& f) {
         TreeFacts t = *f.tree;
         t.machine = 40;
         f.tree = t;
       },
       "packages are made for x86-64 and AArch64"},
      {"--dest is a file", [](auto&, auto& f) { f.dest_not_folder = true; }, "is not a folder"},
      {"bad name", [](auto& o, auto&) { o.package_name = "Notes"; }, "no valid package name"},
      {"bad version", [](auto& o, auto&) { o.app_version = "1.0-2"; }, "no valid Debian and RPM"},
      {"bad release", [](auto& o, auto&) { o.release = "a"; }, "release 'a'"},
      {"relative install dir", [](auto& o, auto&) { o.install_dir = "opt/x"; }, "not an absolute"},
      {"install dir in /usr/share", [](auto& o, auto&) { o.install_dir = "/usr/share/x"; },
       "mix the tree with the desktop files"},
      {"no maintainer", [](auto& o, auto&) { o.maintainer = ""; }, "name their maintainer"},
      {"two-line summary", [](auto& o, auto&) { o.description = "a\nb"; }, "one line"},
      {"update site without its key", [](auto& o, auto&) { o.update_site = "https://e.org/a"; },
       "go together"},
      {"update site that is no address",
       [](auto& o, auto& f) {
         o.update_site = "ftp://e.org/a";
         o.update_key = "KEY.asc";
         f.update_key = Result<std::string>("-----BEGIN PGP PUBLIC KEY BLOCK-----\n");
       },
       "no plain http"},
      {"update site with a quote",
       [](auto& o, auto& f) {
         o.update_site = "https://e.org/a'$(x)";
         o.update_key = "KEY.asc";
         f.update_key = Result<std::string>("-----BEGIN PGP PUBLIC KEY BLOCK-----\n");
       },
       "no plain http"},
      {"update channel with a slash",
       [](auto& o, auto& f) {
         o.update_site = "https://e.org/a";
         o.update_key = "KEY.asc";
         o.update_channel = "a/b";
         f.update_key = Result<std::string>("-----BEGIN PGP PUBLIC KEY BLOCK-----\n");
       },
       "no channel name"},
      {"update key that is not armored",
       [](auto& o, auto& f) {
         o.update_site = "https://e.org/a";
         o.update_key = "KEY.gpg";
         f.update_key = Result<std::string>(std::string("\x99\x01", 2));
       },
       "no armored public key"},
      {"feed key without a site",
       [](auto& o, auto& f) { o.update_feed_key = "k.pem", f.tree_has_updater = true; },
       "--update-feed-key needs --update-site"},
      {"feed key for a tree without the updater",
       [](auto& o, auto& f) { site(o, f), o.update_feed_key = "k.pem"; },
       "has no lib/app/vorlane-updater.jar to check the feed with: make the tree with "
       "`vorlane-pack app --updates`"},
      {"feed key that is no Ed25519 key",
       [](auto& o, auto& f) {
         site(o, f), o.update_feed_key = "k.pem", f.tree_has_updater = true;
         f.update_feed_key = Result<std::string>(bad_input("k.pem holds no Ed25519 public key"));
       },
       "--update-feed-key: k.pem holds no Ed25519 public key"},
      {"unreadable description file",
       [](auto& o, auto& f) {
         o.long_description_file = "/x";
         f.long_description_file = Result<std::string>(bad_input("cannot open /x"));
       },
       "--long-description-file: cannot open /x"},
      {"unreadable license",
       [](auto& o, auto& f) {
         o.license_file = "/l";
         f.license_file = Result<std::string>(bad_input("cannot open /l"));
       },
       "--license-file: cannot open /l"},
      {"no category", [](auto& o, auto&) { o.menu_group = ";,"; }, "names no category"},
      {"bad app id", [](auto& o, auto&) { o.app_id = "notes"; }, "reverse-DNS"},
      {"line break in vendor", [](auto& o, auto&) { o.vendor = "a\rb"; }, "holds a line break"},
      {"not an icon",
       [](auto& o, auto& f) {
         o.icon = "/i.png";
         f.icons.emplace("/i.png", bad_input("is neither a PNG nor an SVG image"));
       },
       "--icon /i.png is neither"},
      {"oblong icon",
       [](auto& o, auto& f) {
         o.icon = "/i.png";
         f.icons.emplace("/i.png", IconInfo{IconKind::kPng, 64, 32});
       },
       "icons are square"},
      {"bad association", [](auto& o, auto& f) { associate(o, f, {"extension=x"}); },
       "mime-type '' is missing"},
      {"category with a blank", [](auto& o, auto&) { o.menu_group = "Office Tools"; },
       "'Office Tools' is no registered"},
      {"category with '='", [](auto& o, auto&) { o.menu_group = "Utility;A=B"; }, "'A=B' is no"},
      {"upper-case MIME type",
       [](auto& o, auto& f) { associate(o, f, {"extension=x,mime-type=application/X-Notes"}); },
       "must be lower case"},
      {"unregistered media type",
       [](auto& o, auto& f) { associate(o, f, {"extension=x,mime-type=notes/x-note"}); },
       "'notes' is no registered media type"},
      {"extension twice",
       [](auto& o, auto& f) {
         associate(o, f,
                   {"extension=note,mime-type=application/x-a",
                    "extension=NOTE,mime-type=application/x-b"});
       },
       "the extension .NOTE is given twice"},
      {"a macro in a dependency", [](auto& o, auto&) { o.package_deps = {"bash%touch"}; },
       "no Debian dependency"},
      {"a field in a dependency", [](auto& o, auto&) { o.package_deps = {"a1\nPre-Depends: b"}; },
       "no Debian dependency"},
      {"no version", [](auto& o, auto&) { o.package_deps = {"ab (>= )"}; }, "'' is no version"},
      {"bad operator", [](auto& o, auto&) { o.package_deps = {"ab (~ 1)"}; }, "'' is none of"},
      {"empty alternative", [](auto& o, auto&) { o.package_deps = {"ab |"}; }, "is empty"},
      {"missing tools",
       [](auto&, auto& f) {
         f.tools.dpkg_deb = "";
         f.tools.rpmbuild = "";
       },
       "missing tools: dpkg-deb (makes the .deb); rpmbuild"},
      {"svg without rsvg-convert",
       [](auto& o, auto& f) {
         o.icon = "/i.svg";
         f.icons.emplace("/i.svg", IconInfo{IconKind::kSvg});
         f.tools.rsvg_convert = "";
       },
       "rsvg-convert"},
      {"foreign tree without --shlibs-dir", [](auto&, auto& f) { f.host_machine = 183; },
       "give --shlibs-dir"},
      {"unknown library",
       [](auto&, auto& f) {
         f.elf = Result<ElfScan>(ElfScan{{"libfoo.so.1"}, {}});
       },
       "provides libfoo.so.1"},
      {"empty shlibs dir",
       [](auto&, auto& f) {
         f.shlibs = {{"/s", Result<ShlibsMap>(bad_input("--shlibs-dir /s holds no readable"))}};
       },
       "--shlibs-dir /s holds no readable"},
      {"open quote in emulator",
       [](auto&, auto& f) {
         TreeFacts t = *f.tree;
         t.has_app_archive_option = true;
         f.tree = t;
         f.runtime_java_version = "17";
         f.emulator_text = "qemu '-L";
       },
       "leaves a quote open"},
      {"bad epoch", [](auto&, auto& f) { f.source_date_epoch = "17e8"; }, "SOURCE_DATE_EPOCH"},
  };
  for (const Case& c : cases) {
    PackageOptions o = options();
    PackageFacts f = facts();
    c.change(o, f);
    const Result<PackagePlan> plan = plan_packages(o, f);
    ASSERT_FALSE(plan.ok()) << c.what;
    EXPECT_EQ(plan.error().kind, ErrorKind::kBadInput) << c.what;
    EXPECT_THAT(plan.error().message, HasSubstr(c.message)) << c.what;
  }
}

TEST(PackagePlan, RecordsHowTheTreeIsInstalled) {
  // Only a tree with the update library gets a record; the feed key goes in it.
  for (const bool updater : {false, true}) {
    PackageOptions o = options();
    PackageFacts f = facts();
    site(o, f);
    o.update_site = "http://127.0.0.1:8000/";
    o.update_feed_key = updater ? "feed-key.pub.pem" : "";
    f.tree_has_updater = updater;
    f.update_feed_key = Result<std::string>("MCowBQYDK2VwAyEA");
    const Result<PackagePlan> plan = plan_packages(o, f);
    ASSERT_TRUE(plan.ok()) << plan.error().message;
    EXPECT_EQ(plan->info.install_record, updater);
    if (!updater) continue;
    EXPECT_EQ(install_record(plan->info, PackageType::kTarGz),
              "kind=tarball\nname=notes\nversion=1.0-1\narch=amd64\n"
              "site=http://127.0.0.1:8000\nchannel=stable\nfeed-key=MCowBQYDK2VwAyEA\n");
    EXPECT_THAT(install_record(plan->info, PackageType::kRpm), HasSubstr("kind=rpm\n"));
  }
  PackageFacts f = facts();
  f.tree_has_updater = true;
  const Result<PackagePlan> plan = plan_packages(options(), f);
  ASSERT_TRUE(plan.ok()) << plan.error().message;
  EXPECT_THAT(plan->notes, testing::ElementsAre(HasSubstr("names no --update-site")));
}

TEST(PackagePlan, AssociatesSystemTypesWithoutRedefiningThem) {
  PackageOptions o = options();
  PackageFacts f = facts();
  associate(o, f,
            {"extension=txt,mime-type=text/plain",
             "extension=vnote,mime-type=application/x-vnote,icon=/n.png",
             "extension=odt,mime-type=application/vnd.oasis.opendocument.text"});
  f.icons.emplace("/n.png", IconInfo{IconKind::kPng, 48, 48});
  f.known_mime_types = {"text/plain", "application/vnd.oasis.opendocument.text"};
  const Result<PackagePlan> plan = plan_packages(o, f);
  ASSERT_TRUE(plan.ok()) << plan.error().message;
  EXPECT_THAT(mime_xml(plan->info),
              AllOf(HasSubstr("type=\"application/x-vnote\""), Not(HasSubstr("text/plain")),
                    Not(HasSubstr("opendocument"))));
  EXPECT_THAT(desktop_entry(plan->info), HasSubstr("MimeType=text/plain;application/x-vnote;"
                                                   "application/vnd.oasis.opendocument.text;"));
  EXPECT_EQ(plan->notes.size(), 2u);
}

}  // namespace
}  // namespace vorlane::packages
