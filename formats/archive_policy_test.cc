#include "formats/archive_policy.h"

#include <gtest/gtest.h>

namespace vorlane::formats {
namespace {

TEST(ArchivePolicy, TellsWhenTheJvmRunsWithoutCompressedOops) {
  struct Case {
    std::vector<std::string> options;
    bool without;
  };
  const Case cases[] = {
      {{}, false},
      {{"-Xmx1g", "-XX:+UseG1GC"}, false},
      {{"-XX:-UseCompressedOops"}, true},
      {{"-XX:-UseCompressedOops", "-XX:+UseCompressedOops"}, false},
      {{"-XX:+UseZGC"}, true},
      {{"-XX:+UseZGC", "-XX:-UseZGC"}, false},
      {{"-Xmx32g"}, true},
      {{"-Xmx32G"}, true},
      {{"-Xmx32768m"}, true},
      {{"-Xmx32767m"}, true},
      {{"-Xmx31g"}, true},
      {{"-Xmx30g"}, false},
      {{"-Xmx31743m"}, false},
      {{"-Xmx1t"}, true},
      {{"-Xmx34359738368"}, true},
      {{"-Xmx33554432k"}, true},
      {{"-XX:MaxHeapSize=40g"}, true},
      {{"-Xmx64g", "-Xmx1g"}, false},
      {{"-Xmx1g", "-XX:MaxHeapSize=32g"}, true},
      // Sizes that overflow saturate; what is no size is no heap.
      {{"-Xmx99999999999999999999999g"}, true},
      {{"-Xmx32gb"}, false},
      {{"-Xmxg"}, false},
      {{"-Xms40g"}, false},
      {{"-XX:+UseCompressedOopsX"}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(runs_without_compressed_oops(c.options), c.without)
        << (c.options.empty() ? "" : c.options.front());
  }
}

TEST(ArchivePolicy, DecidesEachArchiveByReleaseOptionsAndContext) {
  using enum ArchiveContext;
  using K = ArchiveKind;
  const ArchiveDecision ship{ArchiveFate::kShip, {}};
  const ArchiveDecision leave{};
  const ArchiveDecision dump{ArchiveFate::kRemake, {}};
  const ArchiveDecision dump_nocoops{ArchiveFate::kRemake, {"-XX:-UseCompressedOops"}};
  const std::vector<std::string> big = {"-Xmx40g"};
  struct Case {
    const char* release;
    std::vector<std::string> options;
    ArchiveContext context;
    std::optional<ArchiveKind> app;  // the tree's app archive
    ArchiveDecisions want;           // coops, nocoops, app
  };
  const Case cases[] = {
      // Where it was made, everything stays.
      {"17.0.15", {}, kAppTree, K::kDynamic, {ship, ship, ship}},
      {"25.0.5", {}, kAppTree, std::nullopt, {ship, ship, leave}},
      // .deb and .rpm: the runtime's archives are dumped at install, the
      // nocoops one only when the JVM maps it; 17 to 19 remake the app's too.
      {"17.0.15", {}, kInstalledPackage, K::kDynamic, {dump, leave, dump}},
      {"19", big, kInstalledPackage, K::kDynamic, {dump, dump_nocoops, dump}},
      {"25.0.5", {}, kInstalledPackage, K::kAotCache, {dump, leave, ship}},
      {"25.0.2", {"-XX:+UseZGC"}, kInstalledPackage, K::kStaticLinked, {dump, dump_nocoops, ship}},
      {"", {}, kInstalledPackage, K::kDynamic, {dump, leave, dump}},
      {"21.0.7", {}, kInstalledPackage, std::nullopt, {dump, leave, leave}},
      // A dynamic archive on 20 to 24 is layered on the runtime's: shipped with it.
      {"21.0.7", {}, kInstalledPackage, K::kDynamic, {ship, leave, ship}},
      {"24", big, kInstalledPackage, K::kDynamic, {ship, ship, ship}},
      // The tar.gz runs nothing after unpacking: before 20 it has no app archive.
      {"17.0.15", {}, kTarball, K::kDynamic, {ship, leave, leave}},
      {"17.0.15", big, kTarball, K::kDynamic, {ship, ship, leave}},
      {"25.0.5", {}, kTarball, K::kAotCache, {ship, leave, ship}},
      // The updater remakes both runtime archives whatever the options.
      {"17.0.15", {}, kSelfUpdate, K::kDynamic, {dump, dump_nocoops, ship}},
      {"25.0.3", {}, kSelfUpdate, K::kStaticLinked, {dump, dump_nocoops, ship}},
      {"26", {}, kSelfUpdate, std::nullopt, {dump, dump_nocoops, leave}},
      {"20-ea", {}, kSelfUpdate, K::kDynamic, {ship, ship, ship}},
      {"24.0.1", {}, kSelfUpdate, K::kDynamic, {ship, ship, ship}},
  };
  for (const Case& c : cases) {
    for (const bool has_runtime_archives : {true, false}) {
      const ArchiveFacts facts{.java_version = c.release,
                               .jvm_options = c.options,
                               .context = c.context,
                               .has_coops = has_runtime_archives,
                               .has_nocoops = has_runtime_archives,
                               .app_archive = c.app};
      ArchiveDecisions want = c.want;
      // A runtime without its archives gets none, whatever the context.
      if (!has_runtime_archives) want.coops = want.nocoops = leave;
      EXPECT_EQ(decide_archives(facts), want)
          << c.release << " context " << static_cast<int>(c.context) << " runtime archives "
          << has_runtime_archives;
    }
  }
}

}  // namespace
}  // namespace vorlane::formats
