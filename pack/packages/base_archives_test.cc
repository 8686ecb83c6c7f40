#include "pack/packages/base_archives.h"

#include <gtest/gtest.h>

namespace vorlane::packages {
namespace {

using Files = std::vector<std::string>;

TEST(BaseArchives, KeepsTheTimesOfTheJarsTheClassPathNames) {
  struct Case {
    Files options;
    Files kept;
  };
  const Case cases[] = {
      {{"-Djava.class.path=&&/app.jar:&&/guava.jar:&&/vorlane-launcher.jar"},
       {"lib/app/app.jar", "lib/app/guava.jar", "lib/app/vorlane-launcher.jar"}},
      {{"-Djava.class.path=&&/libs/b.jar:&&/a.jar:&&/a.jar"},
       {"lib/app/a.jar", "lib/app/libs/b.jar"}},
      // The last class path counts, as for the JVM.
      {{"-Djava.class.path=&&/old.jar", "-Xmx1g", "-Djava.class.path=&&/new.jar"},
       {"lib/app/new.jar"}},
      // Wildcards, paths outside the tree and empty entries record nothing.
      {{"-Djava.class.path=&&/lib/*.jar:/usr/share/java/x.jar::&&/:&&/../x.jar:&&/a/.."}, {}},
      {{"-Xmx1g"}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(archive_recorded_files(c.options), c.kept) << c.options.back();
  }
}

TEST(BaseArchives, TellsWhenTheJvmRunsWithoutCompressedOops) {
  struct Case {
    Files options;
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

TEST(BaseArchives, RemakesTheRuntimesArchivesWhereThePackageHasAnInstallStep) {
  using enum BaseArchive;
  struct Case {
    BaseArchiveFacts facts;
    BaseArchive coops;
    BaseArchive nocoops;
  };
  const Case cases[] = {
      // .deb and .rpm of a JDK 17 or 25 tree.
      {{.has_coops = true, .has_nocoops = true, .install_step = true}, kDumpAtInstall, kLeaveOut},
      {{.has_coops = true, .has_nocoops = true, .install_step = true, .without_coops = true},
       kDumpAtInstall,
       kDumpAtInstall},
      // The tar.gz.
      {{.has_coops = true, .has_nocoops = true}, kShip, kLeaveOut},
      {{.has_coops = true, .has_nocoops = true, .without_coops = true}, kShip, kShip},
      // A dynamic app archive needs the bytes it was made on.
      {{.has_coops = true, .has_nocoops = true, .install_step = true, .dynamic_app_archive = true},
       kShip,
       kLeaveOut},
      {{.has_coops = true,
        .has_nocoops = true,
        .install_step = true,
        .dynamic_app_archive = true,
        .without_coops = true},
       kShip,
       kShip},
      // A runtime without its archives gets none.
      {{.install_step = true, .without_coops = true}, kLeaveOut, kLeaveOut},
      {{.has_coops = true, .install_step = true, .without_coops = true}, kDumpAtInstall, kLeaveOut},
  };
  for (const Case& c : cases) {
    const BaseArchives plan = plan_base_archives(c.facts);
    EXPECT_EQ(plan.coops, c.coops) << c.facts.install_step << c.facts.without_coops;
    EXPECT_EQ(plan.nocoops, c.nocoops) << c.facts.install_step << c.facts.without_coops;
  }
}

TEST(BaseArchives, ClampsNoKeptTime) {
  EXPECT_EQ(clamp_epoch(1700000000, {}), 1700000000);
  EXPECT_EQ(clamp_epoch(1700000000, {1600000000, 1800000000, 1750000000}), 1800000000);
  EXPECT_EQ(clamp_epoch(1700000000, {1600000000}), 1700000000);
}

}  // namespace
}  // namespace vorlane::packages
