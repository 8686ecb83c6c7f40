#include "pack/packages/package_plan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <regex>

#include "pack/core/strings.h"
#include "pack/packages/package_scripts.h"

namespace vorlane::packages {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

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
  tree.archive_kind = formats::ArchiveKind::kStaticLinked;
  f.tree = tree;
  f.host_machine = kX86_64;
  f.tools = {"/d", "/r", "/t", "/e", "/re", "/m", "/o", "", "/s", "/g"};
  f.elf = Result<ElfScan>(ElfScan{{"libc.so.6"}, {"libjvm.so"}});
  ShlibsMap shlibs;
  shlibs.add_shlibs("libc 6 libc6 (>= 2.36)\n");
  f.shlibs = {{std::string(kHostShlibsDir), Result<ShlibsMap>(shlibs)}};
  f.source_date_epoch = "1700000000";
  return f;
}

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

TEST(PackagePlan, SplitsTheEmulatorLikeAShell) {
  PackageOptions o = options();
  PackageFacts f = facts();
  TreeFacts t = *f.tree;
  t.has_app_archive_option = true;
  t.machine = 183;
  f.tree = t;
  f.runtime_java_version = "17";
  o.shlibs_dirs = {"/s"};
  f.shlibs = {{"/s", f.shlibs.front().second}};
  f.emulator_text = "qemu-aarch64 -L '/opt/my sysroot' -cpu max";
  const Result<PackagePlan> plan = plan_packages(o, f);
  ASSERT_TRUE(plan.ok()) << plan.error().message;
  EXPECT_TRUE(plan->record_class_list);
  EXPECT_EQ(plan->emulator,
            (std::vector<std::string>{"qemu-aarch64", "-L", "/opt/my sysroot", "-cpu", "max"}));
}

/// The texts' shape, whatever the values: which spec lines start a section
/// or a macro, which control fields, desktop keys and XML elements there are.
std::string shape_of(const PackageInfo& info) {
  std::string shape;
  for (const std::string& line : split_lines(rpm_spec(info, "/s", {"/opt/notes"}))) {
    if (line.starts_with("%") && !line.starts_with("%%")) shape += line.substr(0, 8) + "|";
  }
  for (const std::string& line : split_lines(deb_control(info))) {
    if (!line.starts_with(" ")) shape += line.substr(0, line.find(':')) + "|";
  }
  for (const std::string& line : split_lines(desktop_entry(info))) {
    shape += line.substr(0, line.find('=')) + "|";
  }
  const std::string meta = metainfo(info);
  return shape + std::to_string(std::count(meta.begin(), meta.end(), '<')) + "|" +
         std::to_string(split_lines(meta).size()) + "|" +
         std::to_string(split_lines(deb_postinst(info)).size());
}

TEST(PackagePlan, HostileValuesComeOutAsGivenOrAreRefused) {
  const std::string marker = "/tmp/marker";
  const std::vector<std::string> values = {
      "%(touch " + marker + ")",
      "%{lua: os.execute('touch " + marker + "')}",
      "%define evil 1",
      "%post",
      "ok\n\n%post\ntouch " + marker,
      "$(touch " + marker + ")",
      "`touch " + marker + "`",
      "a; touch " + marker,
      "one\nPre-Depends: evil",
      R"(it's "quoted" \ <b>&amp;</b>)",
  };
  struct Field {
    const char* name;
    void (*set)(PackageOptions&, PackageFacts&, const std::string&);
    bool multi_line;
  };
  const Field fields[] = {
      {"--description", [](auto& o, auto&, const auto& v) { o.description = v; }, false},
      {"--long-description", [](auto& o, auto&, const auto& v) { o.long_description = v; }, true},
      {"--vendor", [](auto& o, auto&, const auto& v) { o.vendor = v; }, false},
      {"--homepage", [](auto& o, auto&, const auto& v) { o.homepage = v; }, false},
      {"--license-type", [](auto& o, auto&, const auto& v) { o.license_type = v; }, false},
      {"--maintainer", [](auto& o, auto&, const auto& v) { o.maintainer = v + " <a@b.org>"; },
       false},
      {"--copyright", [](auto& o, auto&, const auto& v) { o.copyright = v; }, true},
      {"--wm-class", [](auto& o, auto&, const auto& v) { o.wm_class = v; }, false},
      {"a jar's name",
       [](auto&, auto& f, const auto& v) {
         TreeFacts t = *f.tree;
         t.jvm_options = {"-Djava.class.path=&&/" + v + ".jar"};
         f.tree = t;
       },
       false},
  };
  // The same field with a plain value gives the shape to compare with.
  auto planned = [](const Field& field, const std::string& value) {
    PackageOptions o = options();
    PackageFacts f = facts();
    field.set(o, f, value);
    Result<PackagePlan> plan = plan_packages(o, f);
    if (!plan) return plan;
    plan->info.class_list = "lib/app/c.classlist";
    plan->info.archive = "lib/app/a.jsa";
    // As staging makes it: the tree's class path at the installed place.
    plan->info.class_path = "/opt/notes/lib/app/x.jar";
    for (const std::string& option : plan->tree.jvm_options) {
      if (option.starts_with("-Djava.class.path=&&/")) {
        plan->info.class_path = "/opt/notes/lib/app/" + option.substr(21);
      }
    }
    return plan;
  };
  for (const Field& field : fields) {
    const Result<PackagePlan> benign = planned(field, "plain");
    ASSERT_TRUE(benign.ok()) << field.name;
    for (const std::string& value : values) {
      const Result<PackagePlan> plan = planned(field, value);
      const bool line_break = value.find('\n') != std::string::npos;
      const std::vector<std::string> lines = split_lines(value);
      const bool rpm_line = field.name == std::string("--long-description") &&
                            std::any_of(lines.begin(), lines.end(),
                                        [](const std::string& l) { return l.starts_with("%"); });
      const bool blank_in_url =
          field.name == std::string("--homepage") && value.find(' ') != std::string::npos;
      const bool refused = (line_break && !field.multi_line) || rpm_line || blank_in_url;
      ASSERT_EQ(plan.ok(), !refused) << field.name << " = " << value;
      if (!plan) {
        EXPECT_EQ(plan.error().kind, ErrorKind::kBadInput);
        continue;
      }
      const PackageInfo& info = plan->info;
      EXPECT_EQ(shape_of(info), shape_of(benign->info)) << field.name << " = " << value;
      // The class path is one word for the shell, quotes and all.
      std::string quoted = "'";
      for (char ch : info.class_path) {
        quoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
      }
      EXPECT_THAT(deb_postinst(info), HasSubstr(" -cp " + quoted + "' "));
      // No '%' of a value reaches rpmbuild single: each comes doubled.
      const std::string spec = rpm_spec(info, "/s", {"/opt/notes"});
      EXPECT_FALSE(std::regex_search(spec, std::regex(R"((^|[^%])(%%)*%(\(touch|\{lua|define))")))
          << spec;
    }
  }
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
    f.runtime_java_version = std::to_string(c.runtime);
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
