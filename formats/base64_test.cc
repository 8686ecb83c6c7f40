#include "formats/base64.h"

#include <gtest/gtest.h>

namespace vorlane::formats {
namespace {

TEST(Base64, EncodesRfc4648Vectors) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string_view("\xff\xfe\x00", 3), "//4A"},
  };
  for (const auto& [in, want] : rows) EXPECT_EQ(base64_encode(in), want) << in;
}

}  // namespace
}  // namespace vorlane::formats
