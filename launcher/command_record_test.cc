#include "launcher/command_record.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

TEST(CommandRecord, Table) {
  using Args = std::vector<const char*>;
  const struct {
    std::vector<std::string> app_args;
    Args command_line;
    std::string record;
  } cases[] = {
      {{}, {}, "-Dsun.java.command=demo.Main"},
      {{"--mode", "gui"}, {"x y", ""}, "-Dsun.java.command=demo.Main --mode gui x y "},
      {{}, {"-cp", "/app/lib/*.jar"}, "-Dsun.java.command=demo.Main -cp /app/lib/*.jar"},
      {{"a"}, {"%s", "caf\xC3\xA9"}, "-Dsun.java.command=demo.Main a %s caf\xC3\xA9"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(build_command_record("demo.Main", c.app_args, c.command_line), c.record);
  }
}

}  // namespace
}  // namespace vorlane
