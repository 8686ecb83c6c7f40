#include "pack/packages/categories.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace vorlane::packages {
namespace {

TEST(Categories, TableParsesIntoTheRegisteredNames) {
  EXPECT_EQ(parse_category_table("# note\nOffice\n\n  Viewer \n#Game\n"),
            (std::vector<std::string>{"Office", "Viewer"}));
  const std::vector<std::string> registered = registered_categories();
  // The table as it stood in code: 140 names, each once, each a plain word.
  EXPECT_EQ(registered.size(), 140u);
  EXPECT_EQ(std::set<std::string>(registered.begin(), registered.end()).size(), registered.size());
  for (const std::string& c : registered) {
    EXPECT_TRUE(!c.empty() && std::all_of(c.begin(), c.end(), [](char ch) {
      return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
    })) << c;
  }
  EXPECT_EQ(registered.front(), "AudioVideo");
  EXPECT_EQ(registered.back(), "ConsoleOnly");
}

TEST(Categories, TakesRegisteredNamesAndExtensionsOnly) {
  for (const char* good :
       {"AudioVideo", "Utility", "TextTools", "2DGraphics", "WebBrowser", "StrategyGame",
        "Geoscience", "TerminalEmulator", "Qt", "ConsoleOnly", "X-Vorlane-Notes", "X-a"}) {
    EXPECT_TRUE(check_category(good)) << good;
  }
  for (const char* bad : {"", "utility", "Utility ", "X-", "X-a_b", "Bogus", "# note"}) {
    const Status checked = check_category(bad);
    ASSERT_FALSE(checked) << bad;
    EXPECT_EQ(checked.error().kind, ErrorKind::kBadInput);
  }
}

}  // namespace
}  // namespace vorlane::packages
