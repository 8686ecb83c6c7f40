#include "formats/feed_text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace vorlane::formats {
namespace {

TEST(FeedText, PercentEncodesEveryByteOutsideThePlainSet) {
  const std::pair<std::string, std::string> cases[] = {
      {"lib/app/a-1.2_b~c+d@e,f=g.jar", "lib/app/a-1.2_b~c+d@e,f=g.jar"},
      {"my file", "my%20file"},
      {"100%", "100%25"},
      {"\xc3\xa9t\xc3\xa9", "%C3%A9t%C3%A9"},
      {"a\nb\tc", "a%0Ab%09c"},
      {"x:y#z?", "x%3Ay%23z%3F"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(percent_encode(in), out) << in;
}

TEST(FeedText, Utf8AndDates) {
  const std::pair<std::string, bool> cases[] = {
      {"plain", true},     {"\xc3\xa9", true},      {"\xf0\x9f\x98\x80", true},  {"\xc3", false},
      {"\xc0\xaf", false}, {"\xed\xa0\x80", false}, {"\xf4\x90\x80\x80", false}, {"\xff", false},
  };
  for (const auto& [text, ok] : cases) EXPECT_EQ(valid_utf8(text), ok) << text.size();
  EXPECT_EQ(feed_date(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(feed_date(1796698800), "2026-12-08T03:00:00Z");
  const std::pair<std::string, bool> dates[] = {
      {"2026-12-08T03:00:00Z", true},
      {"2024-02-29T23:59:59Z", true},
      {"2000-02-29T00:00:00Z", true},
      {"1900-02-29T00:00:00Z", false},
      {"2026-04-31T00:00:00Z", false},
      {"2026-13-01T00:00:00Z", false},
      {"2026-00-01T00:00:00Z", false},
      {"2026-01-00T00:00:00Z", false},
      {"2026-01-01T24:00:00Z", false},
      {"2026-01-01T00:60:00Z", false},
      {"2026-01-01T00:00:60Z", false},
      {"2026-01-01T00:00:00", false},
      {"2026-01-01 00:00:00Z", false},
      {"+026-01-01T00:00:00Z", false},
      {"", false},
  };
  for (const auto& [date, ok] : dates) EXPECT_EQ(valid_feed_date(date), ok) << date;
}

}  // namespace
}  // namespace vorlane::formats
