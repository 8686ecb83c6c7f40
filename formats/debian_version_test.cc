#include "formats/debian_version.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace vorlane::formats {
namespace {

TEST(DebianVersion, OrderOfTheSharedVectors) {
  // The order the updater applies too: both read the same vectors.
  std::ifstream in(std::string(VORLANE_TESTDATA_DIR) + "/version-order.txt");
  ASSERT_TRUE(in) << "no formats/testdata/version-order.txt";
  int rows = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream row(line);
    std::string a, op, b;
    row >> a >> op >> b;
    const int want = op == "<" ? -1 : op == ">" ? 1 : 0;
    const auto sign = [](int v) { return (v > 0) - (v < 0); };
    EXPECT_EQ(sign(compare_versions(a, b)), want) << line;
    EXPECT_EQ(sign(compare_versions(b, a)), -want) << line << ", reversed";
    ++rows;
  }
  EXPECT_GT(rows, 10);
}

}  // namespace
}  // namespace vorlane::formats
