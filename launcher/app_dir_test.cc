#include "launcher/app_dir.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

TEST(AppDirCandidate, Table) {
  const struct {
    const char* exe;
    const char* candidate;
  } cases[] = {
      {"/opt/demo/bin/demo", "/opt/demo/bin/../lib/app/"},
      {"/demo", "/../lib/app/"},
      {"/a b/bin/x", "/a b/bin/../lib/app/"},
      {"demo", "./../lib/app/"},
  };
  for (const auto& c : cases) EXPECT_EQ(app_dir_candidate(c.exe), c.candidate) << c.exe;
}

TEST(RuntimeDir, BesideTheAppDirectory) {
  const struct {
    const char* app_dir;
    const char* runtime;
  } cases[] = {
      {"/opt/demo/lib/app", "/opt/demo/lib/runtime"},
      {"/opt/demo/bin/../lib/app/", "/opt/demo/bin/../lib/runtime"},
      {"/app", "/runtime"},
  };
  for (const auto& c : cases) EXPECT_EQ(runtime_dir(c.app_dir), c.runtime) << c.app_dir;
}

}  // namespace
}  // namespace vorlane
