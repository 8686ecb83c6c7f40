#include <gtest/gtest.h>

#include "pack/packages/package_plan.h"
#include "pack/packages/package_plan_fixture.h"

namespace vorlane::packages {
namespace {

using plan_fixture::facts;
using plan_fixture::options;

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
