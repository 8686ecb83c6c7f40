#include "pack/core/strings.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

using Strings = std::vector<std::string>;

TEST(Strings, SplitAndJoin) {
  EXPECT_EQ(split("a,,b", ','), (Strings{"a", "", "b"}));
  EXPECT_EQ(split("", ','), (Strings{""}));
  EXPECT_EQ(split_lines("a\r\n\nb\n"), (Strings{"a", "", "b"}));
  EXPECT_EQ(split_lines(""), Strings{});
  EXPECT_EQ(split_words("  a \tb  "), (Strings{"a", "b"}));
  EXPECT_EQ(join(Strings{"a", "", "b"}, ", "), "a, , b");
  EXPECT_EQ(join(Strings{}, ","), "");
  EXPECT_EQ(tail_lines("1\n2\n3\n", 2), "  2\n  3\n");
}

}  // namespace
}  // namespace vorlane
