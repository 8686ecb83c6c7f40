#include "formats/launch_message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace vorlane::formats {
namespace {

using namespace std::string_literals;

TEST(LaunchMessage, RoundTripsAnyBytes) {
  const ForwardedLaunch cases[] = {
      {},
      {{"", "", ""}, "", "", ""},
      {{"a.vnote", "--flag", "x y"}, "/home/ann", "tok-1", std::nullopt},
      {{"\xFF\xFE", "\xC0\x80", "\xED\xA0\xBD", "\x01\x02\n\t", "a\0b"s, "\xF0\x9F\x98\x80"},
       "/tmp/\xE9t\xE9",
       std::nullopt,
       "startup_TIME1"},
      {{std::string(200000, 'z')}, std::string(4096, '/'), std::nullopt, std::nullopt},
  };
  for (const ForwardedLaunch& launch : cases) {
    const std::string message = encode_launch(launch);
    const std::optional<std::uint32_t> size =
        launch_body_size(std::string_view(message).substr(0, kLaunchHeaderSize));
    ASSERT_TRUE(size.has_value());
    ASSERT_EQ(*size, message.size() - kLaunchHeaderSize);
    EXPECT_EQ(decode_launch_body(std::string_view(message).substr(kLaunchHeaderSize)), launch);
  }
}

TEST(LaunchMessage, MalformedBodiesAreRefused) {
  const std::string good = encode_launch({{"a", "bc"}, "/w", "t", std::nullopt}).substr(8);
  const std::string u32_max = "\xFF\xFF\xFF\xFF";
  const std::string cases[] = {
      "",
      good.substr(0, good.size() - 1),              // cut short in the last argument
      good + "x",                                   // a byte left over
      good.substr(0, 6) + "\x02" + good.substr(7),  // a presence byte of 2
      // A working directory longer than the body.
      "\x10\x00\x00\x00/w"s,
      // An argument count no body could hold.
      "\x00\x00\x00\x00\x00\x00"s + u32_max,
      // Three arguments announced, two there.
      "\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"s,
  };
  for (const std::string& body : cases) {
    EXPECT_EQ(decode_launch_body(body), std::nullopt) << testing::PrintToString(body);
  }
}

TEST(LaunchMessage, HeaderChecksMagicAndSizeBound) {
  const auto header = [](std::string magic, std::uint32_t size) {
    for (int shift = 0; shift < 32; shift += 8) magic += static_cast<char>((size >> shift) & 0xFF);
    return magic;
  };
  const struct {
    std::string header;
    std::optional<std::uint32_t> size;
  } cases[] = {
      {header("VLS1", 0), 0},
      {header("VLS1", kMaxLaunchMessage), kMaxLaunchMessage},
      {header("VLS1", kMaxLaunchMessage + 1), std::nullopt},
      {header("VLS1", 0xFFFFFFFF), std::nullopt},
      {header("VLS2", 4), std::nullopt},
      {header("GET ", 4), std::nullopt},
      {"VLS1", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(launch_body_size(c.header), c.size) << testing::PrintToString(c.header);
  }
}

}  // namespace
}  // namespace vorlane::formats
