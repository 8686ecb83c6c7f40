#include "formats/user_options.h"

#include <gtest/gtest.h>

namespace vorlane::formats {
namespace {

using Tokens = std::vector<std::string>;

TEST(SplitUserOptions, Table) {
  const struct {
    std::string value;
    Tokens tokens;
  } cases[] = {
      {"a b", {"a", "b"}},
      {"a\tb\nc", {"a", "b", "c"}},
      {"a\v\f\rb", {"a", "b"}},
      {"\"a b\"", {"a b"}},
      {"a\"b c\"d", {"ab cd"}},
      {"-Dx='a b'", {"-Dx=a b"}},
      {"''", {}},
      {"'' x", {"x"}},
      {"a\\ b", {"a b"}},
      {"\\\"", {"\""}},
      {"a\\\\b", {"a\\b"}},
      {"'a\\'b'", {"a'b"}},
      {R"("a\"b")", {"a\"b"}},
      {"'say \"hi\"'", {"say \"hi\""}},
      {"abc\\", {"abc\\"}},
      {"\240a\205", {"\240a\205"}},  // bytes 0x80-0xFF are never white space
      {"\\\n", {"\n"}},              // an escaped line feed is kept
  };
  for (const auto& c : cases) {
    const auto tokens = split_user_options(c.value);
    ASSERT_TRUE(tokens.has_value()) << c.value;
    EXPECT_EQ(*tokens, c.tokens) << c.value;
  }
}

TEST(SplitUserOptions, UnterminatedQuotes) {
  for (const char* value : {"'abc", "\"abc", "'abc\\", "\"x \\", "-Dx=\"a'b", "a 'b c"}) {
    EXPECT_FALSE(split_user_options(value).has_value()) << value;
  }
}

const Tokens kShippedAllowList = {"-Xmx", "-Xms", "-Xss", "-Xlog", "-XshowSettings",
                                  "-ea",  "-esa", "-da",  "-dsa",  "-Duser.home="};

TEST(CheckUserOptions, Outcomes) {
  using Outcome = UserOptions::Outcome;
  const struct {
    const char* value;
    Tokens allowed;
    Outcome outcome;
    Tokens accepted;
    std::string disallowed;
  } cases[] = {
      {nullptr, {}, Outcome::kAccepted, {}, ""},
      {"", {}, Outcome::kAccepted, {}, ""},
      {"  ", {}, Outcome::kNotEnabled, {}, ""},
      {"  ", {"-Xmx"}, Outcome::kAccepted, {}, ""},
      {"-Xmx2g -Duser.home=/srv/h",
       {"-Xmx", "-Duser.home="},
       Outcome::kAccepted,
       {"-Xmx2g", "-Duser.home=/srv/h"},
       ""},
      {"-Xmx2g -xmx2g -XX:+UseZGC", kShippedAllowList, Outcome::kDisallowed, {}, "-xmx2g"},
      {"-XX:+UseZGC '-Xmx1g", kShippedAllowList, Outcome::kUnterminatedQuote, {}, ""},
      {"'-Dx=a b'", {"-D"}, Outcome::kAccepted, {"-Dx=a b"}, ""},
      {"anything at all", {"-Xmx", ""}, Outcome::kAccepted, {"anything", "at", "all"}, ""},
      {"-Xm", {"-Xmx"}, Outcome::kDisallowed, {}, "-Xm"},  // shorter than the prefix
  };
  for (const auto& c : cases) {
    const UserOptions result = check_user_options(c.value, c.allowed);
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.accepted, c.accepted);
    EXPECT_EQ(result.disallowed, c.disallowed);
  }
}

TEST(CheckUserOptions, AValueAsLongAsOneEnvironmentString) {
  // "VORLANE_JVM_OPTIONS=", the value and its 0 byte fill 128 KiB.
  const std::size_t size = std::size_t{128} * 1024 - std::string("VORLANE_JVM_OPTIONS=").size() - 1;
  std::string many;
  while (many.size() + 4 + 7 <= size) many += "-ea ";
  many.append(size - many.size() - 7, ' ');
  const std::string long_token = "-Dbig=" + std::string(size - 6, 'x');
  const Tokens allowed = {"-Dbig=", "-ea", "-Xmx"};
  UserOptions r = check_user_options(long_token.c_str(), allowed);
  EXPECT_EQ(r.accepted, Tokens{long_token});
  r = check_user_options((many + "-Xmx64m").c_str(), allowed);
  ASSERT_EQ(r.accepted.size(), 32762u);  // 32,761 times -ea
  EXPECT_EQ(r.accepted.back(), "-Xmx64m");
  r = check_user_options((many + "     '").c_str(), allowed);
  EXPECT_EQ(r.outcome, UserOptions::Outcome::kUnterminatedQuote);
}

}  // namespace
}  // namespace vorlane::formats
