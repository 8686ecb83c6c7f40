#include "pack/commands/arg_files.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

TEST(AttachOptionValues, JoinsValuesUpToTheEndOfOptions) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> expected;
  } cases[] = {
      {{"--java-option", "-Xmx1g", "--name", "x"}, {"--java-option=-Xmx1g", "--name", "x"}},
      {{"--java-option"}, {"--java-option"}},
      {{"--java-option=-a", "--java-option", "--java-option"},
       {"--java-option=-a", "--java-option=--java-option"}},
      // After "--" everything is passed on as it is, for a training run's arguments.
      {{"cds", "dir", "--", "--java-option", "-x"}, {"cds", "dir", "--", "--java-option", "-x"}},
      {{"--java-option", "--", "--java-option", "-x"}, {"--java-option=--", "--java-option=-x"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    attach_option_values(args, {"--java-option"});
    EXPECT_EQ(args, c.expected);
  }
}

}  // namespace
}  // namespace vorlane
