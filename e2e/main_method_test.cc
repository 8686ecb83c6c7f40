// Which main method the launcher runs: on a runtime of release 25 or later
// every entry method its own `java` accepts, on older ones only
// `public static void main(String[])`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "e2e/app_tree.h"

namespace vorlane::e2e {
namespace {

using testing::HasSubstr;
using testing::Not;

constexpr int kFlexibleMainRelease = 25;

std::string missing_main(const std::string& main_class) {
  return "java.lang.NoSuchMethodException: Main class " + main_class +
         " has no method public static void main(String[] args)";
}

TEST(MainMethod, RuntimeDecidesWhichMainMethodsRun) {
  const bool flexible = runtime_feature() >= kFlexibleMainRelease;
  const struct {
    std::string main_class;  // in probe.Mains
    std::string out;         // on a release 25 runtime; empty when it refuses the class
    std::string err;         // what the refusal says there
    bool before_25;          // also run on older runtimes, which refuse them all alike
  } cases[] = {
      {"InstanceNoArgs", "InstanceNoArgs.main()\n", "", true},
      {"StaticNoArgs", "StaticNoArgs.main()\n", "", false},
      {"PackageStatic", "PackageStatic.main(String[]) 2\n", "", true},
      {"Inherited", "Instance.main(String[]) 2 in Inherited\n", "", false},
      {"FromInterface", "WithDefault.main() in FromInterface\n", "", false},
      {"Both", "Both.main(String[]) 2\n", "", false},
      {"PrivateWithArgs", "PrivateWithArgs.main()\n", "", false},
      {"Ordered", "static initialiser\nconstructor\nOrdered.main()\n", "", true},
      {"OnlyPrivate", "", missing_main("probe.Mains$OnlyPrivate"), false},
      {"NotVoid", "", missing_main("probe.Mains$NotVoid"), false},
      {"PrivateConstructor", "",
       "java.lang.NoSuchMethodException: no non-private zero argument constructor found in class "
       "probe.Mains$PrivateConstructor",
       false},
      {"Abstract", "",
       "java.lang.InstantiationException: abstract class probe.Mains$Abstract can not be "
       "instantiated",
       false},
      {"Inner", "",
       "java.lang.InstantiationException: non-static inner class probe.Mains$Inner constructor "
       "can not be invoked",
       false},
      // An instance main's own exception, reported as thrown.
      {"Throwing", "", "java.io.IOException: app failure\n\tat probe.Mains$Throwing.main(", false},
  };
  AppTree tree;
  for (const auto& c : cases) {
    if (!flexible && !c.before_25) continue;
    SCOPED_TRACE(c.main_class);
    const std::string main_class = "probe.Mains$" + c.main_class;
    tree.burn_probe("args", {"--main-class", main_class, "--console"});
    const RunResult r = tree.run({"a", "b"});
    if (flexible && !c.out.empty()) {
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, c.out);
      EXPECT_EQ(r.err, "");
    } else {
      // Refused before the class is initialised: nothing of it ran.
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_THAT(r.err, HasSubstr(flexible ? c.err : missing_main(main_class)));
      EXPECT_THAT(r.err, Not(HasSubstr("Caused by")));
      EXPECT_THAT(r.err, Not(HasSubstr("InvocationTargetException")));
    }
  }
}

}  // namespace
}  // namespace vorlane::e2e
