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

TEST(BaseArchives, ClampsNoKeptTime) {
  EXPECT_EQ(clamp_epoch(1700000000, {}), 1700000000);
  EXPECT_EQ(clamp_epoch(1700000000, {1600000000, 1800000000, 1750000000}), 1800000000);
  EXPECT_EQ(clamp_epoch(1700000000, {1600000000}), 1700000000);
}

}  // namespace
}  // namespace vorlane::packages
