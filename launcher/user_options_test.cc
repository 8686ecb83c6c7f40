#include "launcher/user_options.h"

#include <gtest/gtest.h>

namespace vorlane {
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
      {"\xA0"
       "a\x85",
       {"\xA0"
        "a\x85"}},       // bytes 0x80-0xFF are never white space
      {"\\\n", {"\n"}},  // an escaped line feed is kept
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

}  // namespace
}  // namespace vorlane
