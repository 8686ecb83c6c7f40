#include "pack/packages/package_plan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

namespace vorlane::packages {
namespace {

using ::testing::HasSubstr;

constexpr std::uint16_t kX86_64 = 62;

PackageOptions options() {
  PackageOptions o;
  o.app_dir = "/work/notes";
  o.types = {"deb,rpm", "tar.gz"};
  o.dest = "/work/out";
  o.maintainer = "Ann <ann@example.org>";
  return o;
}

PackageFacts facts() {
  PackageFacts f;
  TreeFacts tree;
  tree.launcher_name = "notes";
  tree.main_class = "org.example.notes.Main";
  tree.machine = kX86_64;
  tree.archive_name = "vorlane-app.jsa";
  f.tree = tree;
  f.host_machine = kX86_64;
  f.tools = {"/d", "/r", "/t", "/e", "/re", "/m", "/o", "", "/s"};
  f.elf = Result<ElfScan>(ElfScan{{"libc.so.6"}, {"libjvm.so"}});
  ShlibsMap shlibs;
  shlibs.add_shlibs("libc 6 libc6 (>= 2.36)\n");
  f.shlibs = {{std::string(kHostShlibsDir), Result<ShlibsMap>(shlibs)}};
  f.source_date_epoch = "1700000000";
  return f;
}

TEST(PackagePlan, PlansFromGoodInput) {
  PackageOptions o = options();
  o.package_deps = {"default-jre | java-runtime"};
  const Result<PackagePlan> plan = plan_packages(o, facts());
  ASSERT_TRUE(plan.ok()) << plan.error().message;
  EXPECT_EQ(plan->types.size(), 3u);
  EXPECT_EQ(plan->info.install_dir, "/opt/notes");
  EXPECT_EQ(plan->info.app_id, "org.example.notes.notes");
  EXPECT_EQ(plan->info.deb_depends,
            (std::vector<std::string>{"default-jre | java-runtime", "libc6 (>= 2.36)"}));
  EXPECT_EQ(plan->info.rpm_requires,
            (std::vector<std::string>{"(default-jre or java-runtime)", "libc.so.6()(64bit)"}));
  EXPECT_EQ(plan->info.source_date_epoch, 1700000000);
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
      {"bad name", [](auto& o, auto&) { o.package_name = "Notes"; }, "no valid package name"},
      {"bad version", [](auto& o, auto&) { o.app_version = "1.0-2"; }, "no valid Debian and RPM"},
      {"bad release", [](auto& o, auto&) { o.release = "a"; }, "release 'a'"},
      {"relative install dir", [](auto& o, auto&) { o.install_dir = "opt/x"; }, "not an absolute"},
      {"install dir in /usr/share", [](auto& o, auto&) { o.install_dir = "/usr/share/x"; },
       "mix the tree with the desktop files"},
      {"no maintainer", [](auto& o, auto&) { o.maintainer = ""; }, "name their maintainer"},
      {"two-line summary", [](auto& o, auto&) { o.description = "a\nb"; }, "one line"},
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
      {"bad association",
       [](auto& o, auto& f) {
         o.file_associations = {"extension=x"};
         f.file_associations = {Result<std::string>(std::string("extension=x"))};
       },
       "mime-type '' is missing"},
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
         f.runtime_feature_version = 17;
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

TEST(PackagePlan, SplitsTheEmulatorLikeAShell) {
  PackageOptions o = options();
  PackageFacts f = facts();
  TreeFacts t = *f.tree;
  t.has_app_archive_option = true;
  t.machine = 183;
  f.tree = t;
  f.runtime_feature_version = 17;
  o.shlibs_dirs = {"/s"};
  f.shlibs = {{"/s", f.shlibs.front().second}};
  f.emulator_text = "qemu-aarch64 -L '/opt/my sysroot' -cpu max";
  const Result<PackagePlan> plan = plan_packages(o, f);
  ASSERT_TRUE(plan.ok()) << plan.error().message;
  EXPECT_TRUE(plan->record_class_list);
  EXPECT_EQ(plan->emulator,
            (std::vector<std::string>{"qemu-aarch64", "-L", "/opt/my sysroot", "-cpu", "max"}));
}

TEST(PackagePlan, KeepsArchivedJarTimesAndRemakesTheRuntimesArchives) {
  struct Case {
    const char* what;
    int runtime;
    std::vector<std::string> options;
    std::vector<std::string> types;
    std::vector<std::string> kept;
    std::vector<std::string> dumps;
  };
  const std::string coops = kCoopsArchive;
  const std::string nocoops = kNoCoopsArchive;
  const Case cases[] = {
      {"25, shipped archive",
       25,
       {},
       {"deb,rpm,tar.gz"},
       {"lib/app/a.jar", "lib/app/b.jar"},
       {coops}},
      {"25 without compressed oops",
       25,
       {"-Xmx40g"},
       {"deb"},
       {"lib/app/a.jar", "lib/app/b.jar"},
       {coops, nocoops}},
      {"25, tar.gz only", 25, {}, {"tar.gz"}, {"lib/app/a.jar", "lib/app/b.jar"}, {}},
      {"17, archive made at install", 17, {}, {"deb"}, {}, {coops}},
  };
  for (const Case& c : cases) {
    PackageOptions o = options();
    o.types = c.types;
    PackageFacts f = facts();
    TreeFacts t = *f.tree;
    t.has_app_archive_option = true;
    t.jvm_options = {"-Djava.class.path=&&/b.jar:&&/a.jar"};
    t.jvm_options.insert(t.jvm_options.end(), c.options.begin(), c.options.end());
    f.tree = t;
    f.runtime_feature_version = c.runtime;
    f.runtime_coops_archive = true;
    f.runtime_nocoops_archive = true;
    const Result<PackagePlan> plan = plan_packages(o, f);
    ASSERT_TRUE(plan.ok()) << c.what << ": " << plan.error().message;
    EXPECT_EQ(plan->kept_times, c.kept) << c.what;
    std::vector<std::string> dumps;
    for (const auto& d : plan->info.runtime_dumps) dumps.push_back(d.archive);
    EXPECT_EQ(dumps, c.dumps) << c.what;
  }
}

}  // namespace
}  // namespace vorlane::packages
