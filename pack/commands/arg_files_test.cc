#include "pack/commands/arg_files.h"

#include <gtest/gtest.h>

#include <fstream>

#include "testing/scoped_temp_dir.h"

namespace vorlane {
namespace {

using Values = std::map<std::string, std::vector<std::string>>;

TEST(TakeValueOptions, AnyTextIsAValueUpToTheEndOfOptions) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> rest;
    Values values;
  } cases[] = {
      {{"--java-option", "-Xmx1g", "--name", "x"},
       {"--name", "x"},
       {{"--java-option", {"-Xmx1g"}}}},
      // An empty value is a value: it never takes the option after it.
      {{"--argument", "", "--console"}, {"--console"}, {{"--argument", {""}}}},
      {{"--argument=", "--java-option=-a=b", "--java-option", "--java-option"},
       {},
       {{"--argument", {""}}, {"--java-option", {"-a=b", "--java-option"}}}},
      {{"--java-option", "-x", "stray"}, {"stray"}, {{"--java-option", {"-x"}}}},
      // After "--" everything is passed on as it is, for a training run's arguments.
      {{"cds", "dir", "--", "--java-option", "-x"},
       {"cds", "dir", "--", "--java-option", "-x"},
       {}},
      {{"--java-option", "--", "--java-option", "-x"}, {}, {{"--java-option", {"--", "-x"}}}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    const auto values = take_value_options(args, {"--java-option", "--argument"});
    ASSERT_TRUE(values);
    EXPECT_EQ(*values, c.values);
    EXPECT_EQ(args, c.rest);
  }
  std::vector<std::string> dangling = {"--name", "x", "--argument"};
  const auto refused = take_value_options(dangling, {"--argument"});
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message, "--argument needs a value");
}

TEST(ExpandArgFiles, LinesBecomeArgumentsWithoutAByteOrderMark) {
  const ScopedTempDir temp;
  const std::string file = temp.path() + "/args";
  std::ofstream(file) << "\xEF\xBB\xBF--main-class\r\ndemo.Main\n\n--java-option\n-Dx=a b\n";
  std::vector<std::string> args = {"burn", "@" + file, "@"};
  ASSERT_TRUE(expand_arg_files(args));
  EXPECT_EQ(args, (std::vector<std::string>{"burn", "--main-class", "demo.Main", "--java-option",
                                            "-Dx=a b", "@"}));
}

}  // namespace
}  // namespace vorlane
