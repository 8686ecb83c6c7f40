#include "formats/option_expansion.h"

#include <gtest/gtest.h>

#include <optional>

namespace vorlane::formats {
namespace {

TEST(ReplaceAppDirToken, Table) {
  const struct {
    std::string option, app_dir, expected;
  } cases[] = {
      {"-Dapp.dir=&&", "/opt/demo/lib/app", "-Dapp.dir=/opt/demo/lib/app"},
      {"&&&", "/o", "/o&"},
      {"&&&&", "/o", "/o/o"},
      {"a & b", "/o", "a & b"},
      {"&&", "/x&&y", "/x&&y"},  // inserted text is never searched again
      {"", "/o", ""},
  };
  for (const auto& c : cases) {
    std::string option = c.option;
    replace_app_dir_token(option, c.app_dir);
    EXPECT_EQ(option, c.expected) << c.option;
  }
}

TEST(ExpandHome, Table) {
  const std::optional<std::string> unset;
  const struct {
    std::optional<std::string> home;
    std::string option, expected;
  } cases[] = {
      {"/home/u", "-Dx=~/a", "-Dx=/home/u/a"},
      {"/home/u", "-Dp=~/a:~/b", "-Dp=/home/u/a:/home/u/b"},
      {"/home/u", "~/", "/home/u/"},
      {"/home/u", "~/a:~/b", "/home/u/a:/home/u/b"},
      {"/home/u", "~", "~"},
      {"/home/u", "~alice/x", "~alice/x"},
      {"/home/u", "-Dx=~", "-Dx=~"},
      {"/home/u", "-Dx=a~/b", "-Dx=a~/b"},
      {"/home/u/", "-Dx=~/a", "-Dx=/home/u//a"},
      {unset, "-Dp=x:~/b", "-Dp=x:~/b"},
      {unset, "~/a", "~/a"},
      {"", "-Dx=~/a", "-Dx=~/a"},
      {"", "~/a:~/b", "/a:~/b"},
      // The ":~/" pass sees what the "=~/" pass inserted.
      {"/h:~/x", "-Dx=~/a", "-Dx=/h:/h:~/x/x/a"},
      {"/odd=~/h", "-Dx=~/a", "-Dx=/odd=~/h/a"},  // inserted text is not searched by its own pass
  };
  for (const auto& c : cases) {
    std::string option = c.option;
    expand_home(option, [&] { return c.home ? c.home->c_str() : nullptr; });
    EXPECT_EQ(option, c.expected) << c.option << " with HOME " << c.home.value_or("(unset)");
  }
}

}  // namespace
}  // namespace vorlane::formats
