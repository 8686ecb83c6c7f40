#include "pack/image/archive_policy.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "pack/core/elf_section.h"

namespace vorlane {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;

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
      // Debian's 26 and 27, and a release newer than any tried.
      {"26.0.2.1", K::kAotCache, "-Xlog:aot*=off,cds*=off"},
      {"27.0.1.0.3", K::kAotCache, "-Xlog:aot*=off,cds*=off"},
      {"31", K::kAotCache, "-Xlog:aot*=off,cds*=off"},
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

TEST(ArchiveKind, NewerReleasesAndCollectorsGetNotesNotRefusals) {
  using K = ArchiveKind;
  const std::vector<std::string> none;
  const std::vector<std::string> zgc = {"-XX:+UseZGC"};
  const std::vector<std::string> xx = {"-Xlog", "-XX:"};
  const struct {
    const char* version;
    std::vector<std::string> allowed;
    std::vector<const char*> notes;  // a word of each, in order
  } cases[] = {
      {"25.0.5", none, {}},
      {"26.0.2", {"-Xlog", "-XX:+UseG1GC"}, {}},
      {"17.0.15", xx, {}},  // a dynamic archive keeps the runtime's own under ZGC
      {"25.0.5", zgc, {"no shared class"}},
      {"25.0.3", xx, {"-XX: lets a user's VORLANE_JVM_OPTIONS choose ZGC"}},
      {"27.0.1", zgc, {"aot-cache archive, made with compressed oops"}},
      {"25.0.5", {"-XX:+UseG1GC", "-Xmx"}, {}},
      {"28", none, {"Java 28, newer than the newest release"}},
      {"31.0.1", zgc, {"as 27 does", "choose ZGC"}},
  };
  for (const auto& c : cases) {
    const K kind = archive_kind_for(c.version).value();
    // Never refused: the newest kind for any release from 26 on.
    if (std::atoi(c.version) >= 26) {
      EXPECT_EQ(kind, K::kAotCache) << c.version;
    }
    const std::vector<std::string> notes =
        archive_notes({kind, std::atoi(c.version)}, c.version, c.allowed);
    ASSERT_EQ(notes.size(), c.notes.size()) << c.version;
    for (std::size_t i = 0; i < notes.size(); ++i) {
      EXPECT_THAT(notes[i], HasSubstr(c.notes[i])) << c.version;
    }
  }
}

TEST(ArchiveKind, MakingRunsRunMainOnlyToRecord) {
  const auto runs = [](ArchiveKind kind, const char* file, int feature = 25) {
    std::vector<std::pair<bool, std::vector<std::string>>> out;
    for (const ArchiveRun& run : archive_making_runs({kind, feature}, file)) {
      out.emplace_back(run.runs_main, run.options);
    }
    return out;
  };
  using Run = std::pair<bool, std::vector<std::string>>;
  EXPECT_THAT(runs(ArchiveKind::kDynamic, "a.jsa"),
              ElementsAre(Run{true, {"-XX:ArchiveClassesAtExit=&&/a.jsa"}}));
  EXPECT_THAT(
      runs(ArchiveKind::kStaticLinked, "a.jsa"),
      ElementsAre(Run{true, {"-Xshare:off", "-XX:DumpLoadedClassList=&&/vorlane-app.classlist"}},
                  Run{false,
                      {"-Xshare:dump", "-XX:+AOTClassLinking",
                       "-XX:SharedClassListFile=&&/vorlane-app.classlist",
                       "-XX:SharedArchiveFile=&&/a.jsa"}}));
  EXPECT_THAT(
      runs(ArchiveKind::kAotCache, "a.aot"),
      ElementsAre(Run{true, {"-XX:AOTMode=record", "-XX:AOTConfiguration=&&/vorlane-app.aotconf"}},
                  Run{false,
                      {"-XX:AOTMode=create", "-XX:AOTConfiguration=&&/vorlane-app.aotconf",
                       "-XX:AOTCache=&&/a.aot"}}));
  // 26's aot-linked classes stopped a real app at start: its cache links none.
  EXPECT_THAT(runs(ArchiveKind::kAotCache, "a.aot", 26)[1].second,
              ElementsAre("-XX:AOTMode=create", "-XX:-AOTClassLinking",
                          "-XX:AOTConfiguration=&&/vorlane-app.aotconf", "-XX:AOTCache=&&/a.aot"));
  EXPECT_EQ(runs(ArchiveKind::kAotCache, "a.aot", 27), runs(ArchiveKind::kAotCache, "a.aot"));
  EXPECT_EQ(archive_temp_name("vorlane-app.aot"), "vorlane-app.new.aot");
}

TEST(ArchiveKind, RuntimeJavaKeepsTheBlockButItsArchiveAndSplash) {
  const ArchiveChoice choice{ArchiveKind::kStaticLinked, 25};
  const std::vector<std::string> block =
      app_jvm_options("-Djava.class.path=&&/a.jar", choice,
                      {"-splash:&&/splash.png", "--add-opens=a/b=ALL-UNNAMED"});
  EXPECT_THAT(runtime_java_options(block, {"-Xshare:dump"}),
              ElementsAre("-Djava.class.path=&&/a.jar", "-Dapp.dir=&&",
                          "--add-opens=a/b=ALL-UNNAMED", "-Xshare:dump"));
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

TEST(PlanCds, NativeRunsAllEmulatedNeedsAPrefixOtherwiseANote) {
  constexpr std::uint16_t kX86 = kMachineX86_64;
  constexpr std::uint16_t kArm = kMachineAArch64;
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
