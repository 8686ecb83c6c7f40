#include "pack/image/plan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "pack/core/elf_section.h"

namespace vorlane {
namespace {

using testing::Contains;
using testing::ElementsAre;
using testing::HasSubstr;

constexpr std::uint16_t kX86 = kMachineX86_64;
constexpr std::uint16_t kArm = kMachineAArch64;

/// A class file's answer, the same under both rules.
MainMethods both(MainMethod m) { return {m, m}; }

/// Options and facts of an app that can be made: one jar, one main class.
struct Case {
  AppOptions o;
  AppFacts f;
  Case() {
    o.name = "demo";
    o.input = "/in";
    o.main_class = "demo.Main";
    o.dest = "/dest";
    f.template_path = "/t/launcher";
    f.target_machine = f.host_machine = kX86;
    f.launcher_jar = "/t/vorlane-launcher.jar";
    f.launcher_jar_present = true;
    f.updater_jar = "/t/vorlane-updater.jar";
    f.updater_jar_present = f.jdk_has_crypto_ec = true;
    f.input_is_folder = true;
    f.input = {{"demo.jar", TreeEntry::Type::kFile, ""}};
    f.main_class_in.emplace("demo.jar", ClassEntries{{0, both(MainMethod::kDeclared)}});
    f.home = f.home_absolute = "/dest/demo";
    f.existing = Destination::kAbsent;
    f.host_jdk_home = std::string("/jdk");
    f.host_jdk = f.module_jdk = Jdk{"/jdk", kX86, "", 17, true, "17.0.15", false};
  }
  void main(ClassEntries entries) {
    f.main_class_in.insert_or_assign("demo.jar", std::move(entries));
  }
  /// --splash /img/s.png, whose first bytes are `heads[0]`, beside variants @2x, @3x, ...
  void splash(std::vector<std::string> heads) {
    o.splash = "/img/s.png";
    for (std::size_t i = 0; i < heads.size(); ++i) {
      const std::string at = i == 0 ? "" : "@" + std::to_string(i + 1) + "x";
      f.splash.push_back({"/img/s" + at + ".png", static_cast<int>(i) + 1, heads[i], std::nullopt});
    }
  }
  void jars(int count) {
    f.input.clear();
    f.main_class_in.clear();
    for (int i = 0; i < count; ++i) {
      const std::string jar = "lib/library-with-a-long-name-" + std::to_string(i) + ".jar";
      f.input.push_back({jar, TreeEntry::Type::kFile, ""});
      f.main_class_in.emplace(jar, ClassEntries{});
    }
    f.input.push_back({"demo.jar", TreeEntry::Type::kFile, ""});
    f.main_class_in.emplace("demo.jar", ClassEntries{{0, both(MainMethod::kDeclared)}});
  }
};

TEST(PlanApp, EachRefusal) {
  using Type = TreeEntry::Type;
  const struct {
    std::function<void(Case&)> change;
    std::string message;
  } cases[] = {
      {[](Case& c) { c.o.name = "a/b"; }, "the app's name 'a/b' holds a '/'"},
      {[](Case& c) { c.o.name = "a:b"; }, "the app's name 'a:b' holds a ':'"},
      {[](Case& c) { c.o.name = "a\nb"; }, "the app's name holds a control character"},
      {[](Case& c) { c.o.main_class = "demo/Main"; }, "is not a Java binary class name"},
      {[](Case& c) { c.o.runtime_image = "/rt", c.o.add_modules = {"java.sql"}; },
       "--jdk and --add-modules do not apply to it"},
      {[](Case& c) { c.o.training_timeout = 0; }, "must be a number of seconds"},
      {[](Case& c) { c.f.input_is_folder = false; }, "--input /in is not a folder"},
      {[](Case& c) { c.f.input_error = bad_input("/in/p is a FIFO"); }, "/in/p is a FIFO"},
      {[](Case& c) {
         c.f.input = {{"readme", Type::kFile, ""}};
       },
       "--input /in holds no .jar"},
      {[](Case& c) {
         c.f.input.push_back({"vorlane-launcher.jar", Type::kFile, ""});
       },
       "which the packer adds itself"},
      {[](Case& c) {
         c.f.input.push_back({"a:b.jar", Type::kFile, ""});
       },
       "the jar a:b.jar cannot go on the class path: its name holds a ':'"},
      {[](Case& c) {
         c.f.input.push_back({"vorlane-app.jsa", Type::kFile, ""});
       },
       "a name the packer keeps"},
      {[](Case& c) { c.o.main_jar = "other.jar"; }, "--main-jar other.jar is not a jar in --input"},
      {[](Case& c) { c.main({}); }, "main class demo.Main is not in any jar in /in (no demo/Main"},
      // Once a stack trace of jdeps that did not name the jar.
      {[](Case& c) { c.f.main_class_in.emplace("b.jar", bad_input("/in/b.jar is not a jar")); },
       "/in/b.jar is not a jar"},
      {[](Case& c) {
         c.main({{21, both(MainMethod::kDeclared)}});
       },
       "in demo.jar only for Java 21 and later (META-INF/versions/), and the app's runtime is "
       "Java 17"},
      {[](Case& c) {
         c.main({{0, both(MainMethod::kMissing)}});
       },
       "demo.Main in demo.jar has no public static void main(String[])"},
      {[](Case& c) {
         c.main({{0, both(MainMethod::kDeclared)}, {11, both(MainMethod::kMissing)}});
       },
       "(META-INF/versions/11) has no public static void main"},
      {[](Case& c) { c.o.app_cds = true, c.o.training_args = "'open"; }, "a quote is left open"},
      {[](Case& c) { c.f.template_error = bad_input("/t/x: not a launcher"); }, "not a launcher"},
      {[](Case& c) { c.f.launcher_jar_present = false; },
       "there is no vorlane-launcher.jar beside the launcher template /t/launcher"},
      {[](Case& c) { c.o.updates = true, c.f.updater_jar_present = false; },
       "--updates: there is no /t/vorlane-updater.jar beside the launcher template"},
      {[](Case& c) {
         c.o.updates = true, c.f.input.push_back({"vorlane-updater.jar", Type::kFile, ""});
       },
       "holds vorlane-updater.jar, which the packer adds itself"},
      {[](Case& c) { c.o.updates = true, c.f.jdk_has_crypto_ec = false; },
       "the JDK /jdk (Java 17) has no jmods/jdk.crypto.ec.jmod"},
      {[](Case& c) {
         c.o.updates = true, c.o.runtime_image = "/rt",
         c.f.runtime_image = Jdk{"/rt", kX86, "", 21, false, "21.0.9", false};
       },
       "--runtime-image /rt (Java 21) lacks the module jdk.crypto.ec"},
      {[](Case& c) {
         c.o.java_options = {"-Xmx64m", "stray"};
       },
       "JVM option 'stray' does not start with '-'"},
      {[](Case& c) { c.o.java_options = {"-D" + std::string(17000, 'x')}; }, "has room for"},
      {[](Case& c) { c.jars(600), c.o.app_cds = true; }, "the class path of 601 jars takes"},
      {[](Case& c) { c.splash({"GIF89a"}), c.o.java_options = {"-splash:&&/x.png"}; },
       "--splash and --java-option -splash:&&/x.png both name a splash image"},
      {[](Case& c) { c.splash({"<svg>"}); },
       "--splash: /img/s.png is not a PNG, GIF or JPEG image"},
      {[](Case& c) {
         c.splash({"\xff\xd8\xff\xe0", "BM"});
       },
       "/img/s@2x.png is not a PNG"},
      {[](Case& c) {
         c.splash({"GIF89a"}),
             c.f.splash[0].error = bad_input("--splash: /img/s.png: no such file");
       },
       "/img/s.png: no such file"},
      {[](Case& c) {
         c.splash({"GIF89a"}), c.f.input.push_back({"splash.gif", Type::kFile, ""});
       },
       "--input /in holds splash.gif, the name --splash's image takes"},
      {[](Case& c) { c.o.single_instance = true, c.o.single_instance_id = "a/b"; },
       "--single-instance: the ID 'a/b' may hold only letters, digits"},
      {[](Case& c) { c.o.single_instance = true, c.o.name = "my app"; }, "the ID 'my app'"},
      {[](Case& c) { c.o.java_options = {"-Dvorlane.singleInstance=x"}; },
       "--java-option -Dvorlane.singleInstance=x is --single-instance's own option"},
      {[](Case& c) { c.f.home_absolute = "/a:b/demo"; }, "app's folder /a:b/demo holds a ':'"},
      {[](Case& c) { c.f.dest_is_file = true; }, "--dest /dest is not a folder"},
      {[](Case& c) { c.f.source_date_epoch = "1700000000 "; },
       "SOURCE_DATE_EPOCH '1700000000 ' is not a whole number of seconds since 1970"},
      {[](Case& c) { c.f.source_date_epoch = "-1"; }, "SOURCE_DATE_EPOCH '-1' is not"},
      {[](Case& c) { c.f.source_date_epoch = "99999999999999999999"; }, "is not a whole number"},
      {[](Case& c) { c.f.home_overlaps_input = true; }, "app's folder /dest/demo and /in overlap"},
      {[](Case& c) { c.f.existing = Result<Destination>(bad_input("/dest/demo exists")); },
       "/dest/demo exists"},
      {[](Case& c) { c.f.host_jdk_home = Result<std::string>(bad_input("no JDK")); }, "no JDK"},
      {[](Case& c) { c.f.module_jdk->has_jmods = false; }, "the JDK /jdk has no jmods/"},
      // A JDK that links from its own image, but another JDK's jlink runs.
      {[](Case& c) { c.f.module_jdk = Jdk{"/jdk25", kX86, "", 25, false, "25.0.3", true}; },
       "the JDK /jdk25 has no jmods/"},
      {[](Case& c) { c.f.module_jdk = Jdk{"/jdk25", kArm, "", 25, false, "25.0.3", true}; },
       "JDK /jdk25 is for AArch64 and has no jmods/: jlink links from a run-time image only for "
       "that image's own machine. Give --jdk a JDK for x86-64 that has jmods/, or "
       "--runtime-image"},
      {[](Case& c) {
         c.o.app_cds = true, c.o.java_options = {"-Xmx1g", "-Xshare:auto"};
       },
       "--java-option -Xshare:auto cannot go with --app-cds"},
      {[](Case& c) { c.o.app_cds = true, c.o.java_options = {"-XX:AOTMode=on"}; },
       "--java-option -XX:AOTMode=on cannot go with --app-cds"},
      {[](Case& c) { c.f.module_jdk->machine = kArm; },
       "built for x86-64, but the JDK /jdk is for AArch64; give --jdk a JDK for x86-64"},
      {[](Case& c) {
         c.o.runtime_image = "/rt",
         c.f.runtime_image = Jdk{"/rt", kArm, "", 17, false, "17", false};
       },
       "but --runtime-image /rt is for AArch64"},
      {[](Case& c) {
         c.o.runtime_image = "/rt",
         c.f.runtime_image = Jdk{"/rt", 0, "has none", 17, false, "17", false};
       },
       "--runtime-image has none"},
  };
  for (const auto& c : cases) {
    Case app;
    c.change(app);
    const Result<AppPlan> plan = plan_app(app.o, app.f);
    ASSERT_FALSE(plan) << c.message;
    EXPECT_EQ(plan.error().kind, ErrorKind::kBadInput) << c.message;
    EXPECT_THAT(plan.error().message, HasSubstr(c.message));
  }
}

TEST(PlanApp, WhatItDecides) {
  Case app;
  app.o.java_options = {"-Xmx1g"};
  Result<AppPlan> plan = plan_app(app.o, app.f);
  ASSERT_TRUE(plan) << plan.error().message;
  EXPECT_THAT(plan->block.jvm_options,
              ElementsAre("-Djava.class.path=&&/demo.jar:&&/vorlane-launcher.jar", "-Dapp.dir=&&",
                          "-Xmx1g"));
  EXPECT_EQ(plan->feature_version, 17);
  EXPECT_TRUE(plan->notes.empty());
  EXPECT_EQ(plan->fixed_time, std::nullopt);
  for (const auto& [epoch, fixed] : {std::pair<std::string, std::optional<std::int64_t>>{"", {}},
                                     {"0", 0},
                                     {"1700000000", 1700000000}}) {
    Case timed;
    timed.f.source_date_epoch = epoch;
    const Result<AppPlan> p = plan_app(timed.o, timed.f);
    ASSERT_TRUE(p) << p.error().message;
    EXPECT_EQ(p->fixed_time, fixed) << epoch;
  }

  // A splash image, named by the format its bytes show, before the packager's options.
  app.splash({"GIF87a", "GIF89a"});
  plan = plan_app(app.o, app.f);
  ASSERT_TRUE(plan) << plan.error().message;
  EXPECT_EQ(plan->block.jvm_options[2], "-splash:&&/splash.gif");
  EXPECT_THAT(plan->splash_files, ElementsAre(std::pair{"/img/s.png", "splash.gif"},
                                              std::pair{"/img/s@2x.png", "splash@2x.gif"}));

  // Single instance: its ID (the app's name by default) rides on a property,
  // after the splash screen's option.
  app.o.single_instance = true;
  plan = plan_app(app.o, app.f);
  ASSERT_TRUE(plan) << plan.error().message;
  EXPECT_EQ(plan->block.jvm_options[3], "-Dvorlane.singleInstance=demo");
  app.o.single_instance_id = "org.example.Demo_2-x";
  plan = plan_app(app.o, app.f);
  ASSERT_TRUE(plan) << plan.error().message;
  EXPECT_EQ(plan->block.jvm_options[3], "-Dvorlane.singleInstance=org.example.Demo_2-x");
  app.o.single_instance = false;

  // Jars too many to name one by one: a wildcard per folder, and a note.
  app.jars(600);
  app.o.main_jar = "demo.jar";
  plan = plan_app(app.o, app.f);
  ASSERT_TRUE(plan) << plan.error().message;
  EXPECT_EQ(plan->block.jvm_options.front(), "-Djava.class.path=&&/demo.jar:&&/*.jar:&&/lib/*.jar");
  EXPECT_THAT(plan->notes, ElementsAre(HasSubstr("so the class path names each folder's jars")));

  // --updates: the update library last on the class path, jdk.crypto.ec
  // for a runtime before 22 (a finished image that has it needs nothing).
  const struct {
    int release;
    bool runtime_image;
    std::vector<std::string> modules;
  } updates[] = {{17, false, {"jdk.crypto.ec"}}, {25, false, {}}, {21, true, {}}};
  for (const auto& u : updates) {
    Case updating;
    updating.o.updates = true;
    const Jdk jdk{"/jdk", kX86, "", u.release, true, std::to_string(u.release), false};
    if (u.runtime_image) {
      updating.o.runtime_image = "/rt";
      updating.f.runtime_image = jdk;
      updating.f.runtime_image_has_crypto_ec = true;
    } else {
      updating.f.host_jdk = updating.f.module_jdk = jdk;
    }
    plan = plan_app(updating.o, updating.f);
    ASSERT_TRUE(plan) << plan.error().message;
    EXPECT_EQ(plan->block.jvm_options.front(),
              "-Djava.class.path=&&/demo.jar:&&/vorlane-launcher.jar:&&/vorlane-updater.jar");
    EXPECT_EQ(plan->extra_modules, u.modules) << u.release;
  }

  // A JDK 25 without jmods/ whose own jlink links from its image.
  Case linkable;
  linkable.f.host_jdk = linkable.f.module_jdk = Jdk{"/jdk25", kX86, "", 25, false, "25.0.3", true};
  ASSERT_TRUE(plan_app(linkable.o, linkable.f));

  // --app-cds: the kind by the shipped runtime's version; a note for an
  // allowed prefix that lets users stop the app.
  // -XX: lets a user's ZGC set a cache or static archive aside too.
  const struct {
    std::string version;
    ArchiveKind kind;
    std::size_t notes;
  } kinds[] = {{"17.0.15", ArchiveKind::kDynamic, 1},
               {"25.0.3", ArchiveKind::kStaticLinked, 2},
               {"25.0.5", ArchiveKind::kAotCache, 2},
               {"27.0.1", ArchiveKind::kAotCache, 2}};
  for (const auto& k : kinds) {
    Case cds;
    cds.o.app_cds = true;
    cds.o.allowed_java_options = {"-Dx", "-XX:"};
    cds.o.runtime_image = "/rt";
    cds.f.runtime_image =
        Jdk{"/rt", kX86, "", std::atoi(k.version.c_str()), false, k.version, false};
    plan = plan_app(cds.o, cds.f);
    ASSERT_TRUE(plan) << plan.error().message;
    ASSERT_TRUE(plan->archive) << k.version;
    EXPECT_EQ(plan->archive->kind, k.kind) << k.version;
    EXPECT_EQ(plan->notes.size(), k.notes) << k.version;
    EXPECT_THAT(plan->notes, Contains(HasSubstr("--allow-java-option -XX: lets a user's "
                                                "VORLANE_JVM_OPTIONS name options that stop")));
    // The block is burned without the archive; the training run adds it.
    EXPECT_EQ(archive_breaking_option(plan->block.jvm_options), "");
  }

  // A main class from a superclass cannot be told from the class file alone.
  Case inherited;
  inherited.main({{0, both(MainMethod::kMaybeInherited)}});
  inherited.f.existing = Destination::kEarlierOutput;
  plan = plan_app(inherited.o, inherited.f);
  ASSERT_TRUE(plan) << plan.error().message;
  EXPECT_TRUE(plan->replace_existing);
}

TEST(PlanApp, MainMethodsByTheShippedRuntimesRules) {
  using M = MainMethod;
  const struct {
    int release;
    MainMethods main;
    std::string refusal;  ///< "" when the app is made
  } cases[] = {
      {17, {M::kDeclared, M::kDeclared}, ""},
      {25, {M::kDeclared, M::kDeclared}, ""},
      // void main() or an instance main: only a runtime of 25 or later starts it.
      {25, {M::kMissing, M::kDeclared}, ""},
      {21,
       {M::kMissing, M::kDeclared},
       "has no public static void main(String[]), so the app could not start on its runtime, "
       "Java 21 (from Java 25 on"},
      {25, {M::kMissing, M::kMaybeInherited}, ""},
      {25, {M::kMissing, M::kMissing}, "has no main method the runtime starts"},
      {25, {M::kMissing, M::kCannotInstantiate}, "has an instance main but is abstract"},
      {25, {M::kNotAClassFile, M::kNotAClassFile}, "is not a readable class file"},
  };
  for (const auto& c : cases) {
    Case app;
    const std::string version = std::to_string(c.release) + ".0.3";
    app.f.host_jdk = app.f.module_jdk = Jdk{"/jdk", kX86, "", c.release, true, version, false};
    app.main({{0, c.main}});
    const Result<AppPlan> plan = plan_app(app.o, app.f);
    if (c.refusal.empty()) {
      EXPECT_TRUE(plan) << c.release << ": " << plan.error().message;
    } else {
      ASSERT_FALSE(plan) << c.release << " " << c.refusal;
      EXPECT_EQ(plan.error().kind, ErrorKind::kBadInput);
      EXPECT_THAT(plan.error().message, HasSubstr(c.refusal));
    }
  }
}

}  // namespace
}  // namespace vorlane
