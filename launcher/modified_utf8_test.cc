#include "launcher/modified_utf8.h"

#include <gtest/gtest.h>

namespace vorlane {
namespace {

TEST(ModifiedUtf8, Conversions) {
  const std::string fffd = "\xEF\xBF\xBD";
  // clang-format off
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"c\xC3\xA9", "c\xC3\xA9"},                                      // 2-byte kept
      {"\xE2\x82\xAC", "\xE2\x82\xAC"},                                // 3-byte kept
      {"\xF0\x9F\x98\x80", "\xED\xA0\xBD\xED\xB8\x80"},                // U+1F600 as a pair
      {"A\xF0\x9F\x98\x80" "B", "A\xED\xA0\xBD\xED\xB8\x80" "B"},       // nothing after it lost
      {"\xF4\x8F\xBF\xBF", "\xED\xAF\xBF\xED\xBF\xBF"},                // U+10FFFF
      {std::string("a\0b", 3), "a\xC0\x80" "b"},                       // NUL in modified form
      {"A\x80" "B", "A" + fffd + "B"},                                 // stray continuation
      {"\xC0\x80", fffd + fffd},                                       // overlong NUL
      {"\xE0\x80\xAF", fffd + fffd + fffd},                            // overlong 3-byte
      {"\xED\xA0\x80", fffd + fffd + fffd},                            // encoded surrogate
      {"\xF0\x8F\xBF\xBF", fffd + fffd + fffd + fffd},                 // overlong 4-byte
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},                 // above U+10FFFF
      {"\xC3", fffd},                                                  // truncated at the end
      {"\xE2\x82" "x", fffd + fffd + "x"},                             // truncated mid-string
      {"\xC3\xC3\xA9", fffd + "\xC3\xA9"},
  };
  // clang-format on
  for (const auto& c : cases) {
    EXPECT_EQ(to_modified_utf8(c.in), c.out) << "input of " << c.in.size() << " bytes";
  }
}

}  // namespace
}  // namespace vorlane
