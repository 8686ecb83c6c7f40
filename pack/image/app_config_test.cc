#include "pack/image/app_config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

namespace vorlane {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

TEST(AppName, Table) {
  const struct {
    std::string name;
    const char* error;  // a part of the refusal; "" when accepted
  } cases[] = {
      {"demo", ""},
      {"My App 2", ""},
      {"caf\xC3\xA9", ""},
      {"a.b", ""},
      {"", "is empty"},
      {".", "cannot be '.'"},
      {"..", "cannot be '..'"},
      {"a/b", "holds a '/'"},
      {".hidden", "starts with '.'"},
      {"-x", "starts with '-'"},
      {std::string("a\0b", 3), "holds a 0 byte"},
      {std::string(201, 'a'), "longer than 200 bytes"},
      {"a:b", "holds a ':'"},
      {"a\nb", "holds a control character"},
  };
  for (const auto& c : cases) {
    const std::string error = check_app_name(c.name);
    if (*c.error == '\0') {
      EXPECT_EQ(error, "") << c.name;
    } else {
      EXPECT_THAT(error, HasSubstr(c.error)) << c.name;
    }
  }
}

TEST(ClassPathElement, RefusesWhatTheLauncherWouldRewrite) {
  const struct {
    const char* jar;
    const char* error;
  } cases[] = {
      {"app.jar", ""},
      {"lib/guava-31.1-jre.jar", ""},
      {"a b.jar", ""},
      {"a:b.jar", "its name holds a ':'"},
      {"a&&b.jar", "its name holds '&&'"},
      {"a&b.jar", ""},
      {"x*.jar", "its name holds a '*'"},
      {"a\nb.jar", "its name holds a line break"},
  };
  for (const auto& c : cases) EXPECT_EQ(check_class_path_element(c.jar), c.error) << c.jar;
}

TEST(SplashImage, FormatByFirstBytesAndScaledVariantsByName) {
  const std::pair<std::string, const char*> formats[] = {
      {std::string("\x89PNG\r\n\x1a\n", 8), "png"},
      {"GIF89a", "gif"},
      {"GIF87a", "gif"},
      {"\xff\xd8\xff\xe1", "jpg"},
      {"BMxx", ""},
      {"\x89PNG", ""},
      {"GIF90a", ""},
      {"<svg", ""},
      {"", ""},
  };
  for (const auto& [head, ext] : formats) EXPECT_EQ(splash_image_extension(head), ext) << head;
  const struct {
    const char* image;
    const char* sibling;
    int scale;
  } names[] = {
      {"s.png", "s@2x.png", 2}, {"s.png", "s@12x.png", 12}, {"a.b.png", "a.b@3x.png", 3},
      {"s", "s@2x", 2},         {"s.png", "s@1x.png", 0},   {"s.png", "s@02x.png", 0},
      {"s.png", "s@x.png", 0},  {"s.png", "s@2x.gif", 0},   {"s.png", "s@2.png", 0},
      {"s.png", "t@2x.png", 0}, {"s.png", "s.png", 0},      {"s.png", "s@99999999999x.png", 0},
  };
  for (const auto& n : names) EXPECT_EQ(splash_scale_of(n.image, n.sibling), n.scale) << n.sibling;
}

TEST(ClassPathOption, MainJarFirstThenByteOrderThenTheLauncherJar) {
  const struct {
    std::vector<std::string> jars;
    std::string main_jar;
    std::string expected;
  } cases[] = {
      {{"b.jar", "a.jar"}, "", "-Djava.class.path=&&/a.jar:&&/b.jar:&&/vorlane-launcher.jar"},
      {{"a.jar", "b.jar"}, "", "-Djava.class.path=&&/a.jar:&&/b.jar:&&/vorlane-launcher.jar"},
      {{"a.jar", "b.jar"}, "b.jar", "-Djava.class.path=&&/b.jar:&&/a.jar:&&/vorlane-launcher.jar"},
      // Byte order: upper case before lower case, a folder's jars by their path.
      {{"lib/z.jar", "Z.jar", "a.jar"},
       "",
       "-Djava.class.path=&&/Z.jar:&&/a.jar:&&/lib/z.jar:&&/vorlane-launcher.jar"},
      {{"only.jar"}, "only.jar", "-Djava.class.path=&&/only.jar:&&/vorlane-launcher.jar"},
  };
  for (const auto& c : cases) EXPECT_EQ(class_path_option(c.jars, c.main_jar), c.expected);
}

TEST(ArchiveOptions, GoRightAfterTheAppDirAndComeOffAgain) {
  const std::string cp = "-Djava.class.path=&&/a.jar";
  const ArchiveChoice dynamic17{ArchiveKind::kDynamic, 17};
  const ArchiveChoice cache25{ArchiveKind::kAotCache, 25};
  EXPECT_THAT(app_jvm_options(cp, std::nullopt, {"-Xmx1g"}),
              ElementsAre(cp, "-Dapp.dir=&&", "-Xmx1g"));
  const std::vector<std::string> with =
      app_jvm_options(cp, dynamic17, {"-Xmx1g", "-Xlog:cds=info"});
  EXPECT_THAT(with, ElementsAre(cp, "-Dapp.dir=&&", "-XX:SharedArchiveFile=&&/vorlane-app.jsa",
                                "-Xlog:cds=off,cds+dynamic=off", "-Xmx1g", "-Xlog:cds=info"));

  // Setting is idempotent, another kind replaces the first, and removing
  // restores the options without them.
  EXPECT_EQ(set_archive_options(with, dynamic17), with);
  EXPECT_THAT(set_archive_options(with, cache25),
              ElementsAre(cp, "-Dapp.dir=&&", "-XX:AOTCache=&&/vorlane-app.aot",
                          "-Xlog:aot*=off,cds*=off", "-Xmx1g", "-Xlog:cds=info"));
  EXPECT_THAT(set_archive_options(set_archive_options(with, cache25), std::nullopt),
              ElementsAre(cp, "-Dapp.dir=&&", "-Xmx1g", "-Xlog:cds=info"));
  // A block without the app directory option (burned by hand) gets them first.
  EXPECT_THAT(
      set_archive_options({"-Xmx1g"}, ArchiveChoice{ArchiveKind::kStaticLinked, 25}),
      ElementsAre("-XX:SharedArchiveFile=&&/vorlane-app.jsa", "-Xlog:aot*=off,cds*=off", "-Xmx1g"));
}

TEST(ArchiveKind, PerRuntimeVersion) {
  using K = ArchiveKind;
  const struct {
    const char* version;
    std::optional<K> kind;
    const char* quiet;  // for its feature version
  } cases[] = {
      {"17.0.15", K::kDynamic, "-Xlog:cds=off,cds+dynamic=off"},
      {"21", K::kDynamic, "-Xlog:cds=off,cds+dynamic=off"},
      {"23.0.2", K::kDynamic, "-Xlog:cds=off,cds+dynamic=off"},
      // 24's cache has the stale-class fault; it logs on standard output already.
      {"24.0.1", K::kDynamic, "-Xlog:aot*=off,cds*=off"},
      {"25", K::kStaticLinked, "-Xlog:aot*=off,cds*=off"},
      {"25.0.3", K::kStaticLinked, "-Xlog:aot*=off,cds*=off"},
      {"25.0.4", K::kAotCache, "-Xlog:aot*=off,cds*=off"},
      {"25.0.10.1", K::kAotCache, "-Xlog:aot*=off,cds*=off"},
      {"25.1.0", K::kAotCache, "-Xlog:aot*=off,cds*=off"},
      {"26-ea", K::kAotCache, "-Xlog:aot*=off,cds*=off"},
      {"", std::nullopt, ""},
      {"1.8.0_412", std::nullopt, ""},
      {"25.x", std::nullopt, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(archive_kind_for(c.version), c.kind) << c.version;
    if (c.kind) {
      EXPECT_EQ(quiet_archive_option(std::atoi(c.version)), c.quiet) << c.version;
      EXPECT_EQ(parse_archive_kind(archive_kind_name(*c.kind)), c.kind);
    }
  }
}

TEST(ArchiveKind, MakingRuns) {
  EXPECT_THAT(archive_making_runs(ArchiveKind::kDynamic, "a.jsa"),
              ElementsAre(ElementsAre("-XX:ArchiveClassesAtExit=&&/a.jsa")));
  EXPECT_THAT(
      archive_making_runs(ArchiveKind::kStaticLinked, "a.jsa"),
      ElementsAre(ElementsAre("-Xshare:off", "-XX:DumpLoadedClassList=&&/vorlane-app.classlist"),
                  ElementsAre("-Xshare:dump", "-XX:+AOTClassLinking",
                              "-XX:SharedClassListFile=&&/vorlane-app.classlist",
                              "-XX:SharedArchiveFile=&&/a.jsa")));
  EXPECT_THAT(
      archive_making_runs(ArchiveKind::kAotCache, "a.aot"),
      ElementsAre(ElementsAre("-XX:AOTMode=record", "-XX:AOTConfiguration=&&/vorlane-app.aotconf"),
                  ElementsAre("-XX:AOTMode=create", "-XX:AOTConfiguration=&&/vorlane-app.aotconf",
                              "-XX:AOTCache=&&/a.aot")));
  EXPECT_EQ(archive_temp_name("vorlane-app.aot"), "vorlane-app.new.aot");
}

TEST(ArchiveKind, OptionsThatBreakAnArchive) {
  const struct {
    std::vector<std::string> options;
    const char* breaking;
  } cases[] = {
      {{"-Xmx1g", "-Dx=1", "-XX:+UseSerialGC", "-Xlog:cds=info"}, ""},
      {{"-Xmx1g", "-Xshare:auto"}, "-Xshare:auto"},
      {{"-Xshare:off"}, "-Xshare:off"},
      {{"-XX:SharedArchiveFile=/x.jsa"}, "-XX:SharedArchiveFile=/x.jsa"},
      {{"-XX:SharedClassListFile=x"}, "-XX:SharedClassListFile=x"},
      {{"-XX:DumpLoadedClassList=x"}, "-XX:DumpLoadedClassList=x"},
      {{"-XX:AOTCacheOutput=x.aot"}, "-XX:AOTCacheOutput=x.aot"},
      {{"-XX:AOTConfiguration=x"}, "-XX:AOTConfiguration=x"},
      {{"-XX:AOTMode=on"}, "-XX:AOTMode=on"},
      {{"-XX:+AutoCreateSharedArchive"}, "-XX:+AutoCreateSharedArchive"},
      {{"-XX:ArchiveClassesAtExit=x"}, "-XX:ArchiveClassesAtExit=x"},
  };
  for (const auto& c : cases) EXPECT_EQ(archive_breaking_option(c.options), c.breaking);
}

TEST(Marker, RoundTripsAndNeedsAName) {
  const AppMarker marker{
      "demo", {"--train", "a b", "", "x\ny\\n"}, {"lib/a\nb.txt", "bin"}, ArchiveKind::kAotCache};
  std::string error;
  const std::optional<AppMarker> back = parse_marker(format_marker(marker), error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->name, "demo");
  EXPECT_THAT(back->training_args, ElementsAre("--train", "a b", "", "x\ny\\n"));
  EXPECT_THAT(back->made, ElementsAre("lib/a\nb.txt", "bin"));
  EXPECT_EQ(back->archive, ArchiveKind::kAotCache);
  // An earlier packer's marker names no kind; a later one's unknown kind is none.
  EXPECT_EQ(parse_marker("name=a\n", error)->archive, std::nullopt);
  EXPECT_EQ(parse_marker("name=a\narchive=future\n", error)->archive, std::nullopt);

  const struct {
    const char* text;
    const char* error;
  } bad[] = {
      {"", "it names no launcher (the app's name is empty)"},
      {"# only a comment\n", "it names no launcher (the app's name is empty)"},
      {"name=../x\n", "it names no launcher (the app's name '../x' holds a '/')"},
  };
  for (const auto& c : bad) {
    EXPECT_FALSE(parse_marker(c.text, error)) << c.text;
    EXPECT_EQ(error, c.error);
  }
}

TEST(PlanCds, NativeRunsAllEmulatedNeedsAPrefixOtherwiseANote) {
  constexpr std::uint16_t kX86 = 62;
  constexpr std::uint16_t kArm = 183;
  const struct {
    std::uint16_t host, target;
    bool emulator, need_base, want_app;
    bool base, training, emulated;
    const char* note;  // a part of the note; "" when there is none
  } cases[] = {
      {kX86, kX86, false, true, true, true, true, false, ""},
      {kX86, kX86, true, true, false, true, false, false, ""},
      {kX86, kX86, false, false, true, false, true, false, ""},
      {kX86, kArm, true, true, true, true, true, true, ""},
      {kX86, kArm, false, true, true, false, false, false,
       "built for AArch64 and this machine is x86-64, so the runtime's default class-data archive "
       "and the app archive cannot be made here"},
      {kX86, kArm, false, false, true, false, false, false, "so the app archive cannot be made"},
      {kX86, kArm, false, true, false, false, false, false,
       "so the runtime's default class-data archive cannot be made"},
      {kX86, kArm, false, false, false, false, false, false, ""},
  };
  for (const auto& c : cases) {
    const CdsPlan plan = plan_cds(c.host, c.target, c.emulator, c.need_base, c.want_app);
    const std::string label = std::to_string(c.target) + (c.emulator ? " emulated" : "") +
                              (c.need_base ? " base" : "") + (c.want_app ? " app" : "");
    EXPECT_EQ(plan.base_archive, c.base) << label;
    EXPECT_EQ(plan.training_run, c.training) << label;
    EXPECT_EQ(plan.emulated, c.emulated) << label;
    if (*c.note == '\0') {
      EXPECT_EQ(plan.note, "") << label;
    } else {
      EXPECT_THAT(plan.note, HasSubstr(c.note)) << label;
    }
  }
}

}  // namespace
}  // namespace vorlane
