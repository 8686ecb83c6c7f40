#include "formats/launch_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorlane::formats {
namespace {

std::vector<std::uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

TEST(BurnedInData, DecodesFieldsInOrder) {
  // clang-format off
  const auto block = bytes(std::string_view(
      "\x14" "\x00\x20\x00\x00" "demo.Main\0"
      "\x02" "-Xmx1g\0" "\0"
      "\x01" "--mode\0"
      "\x02" "-Xmx\0" "-D\0"
      "____\0",
      5 + 10 + 1 + 7 + 1 + 1 + 7 + 1 + 5 + 3 + 5));
  // clang-format on
  const BurnedInData d(block);
  EXPECT_TRUE(d.intact);
  EXPECT_EQ(d.flags(), 0x14);         // each bit: FlagBits
  EXPECT_EQ(d.stack_size, 2097152u);  // big-endian, not 8,192
  EXPECT_EQ(d.main_class, "demo.Main");
  EXPECT_EQ(d.jvm_options, (std::vector<std::string>{"-Xmx1g", ""}));
  EXPECT_EQ(d.app_args, (std::vector<std::string>{"--mode"}));
  EXPECT_EQ(d.allowed_jvm_options, (std::vector<std::string>{"-Xmx", "-D"}));
}

TEST(BurnedInData, FlagBits) {
  const struct {
    std::uint8_t flags;
    bool main_thread, console, bit2, bit3, bit4;
  } cases[] = {
      {0x00, false, false, false, false, false},
      {0x03, true, true, false, false, false},
      {0x1C, false, false, true, true, true},
      {0xE0, false, false, false, false, false},  // bits 5-7 are ignored
      {0xFF, true, true, true, true, true},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> block = {c.flags, 0, 0, 0, 1, 'M', 0, 0, 0, 0};
    const BurnedInData d(block);
    SCOPED_TRACE(c.flags);
    EXPECT_TRUE(d.intact);
    EXPECT_EQ(d.run_on_main_thread, c.main_thread);
    EXPECT_EQ(d.console_app, c.console);
    EXPECT_EQ(d.flag_bit2, c.bit2);
    EXPECT_EQ(d.flag_bit3, c.bit3);
    EXPECT_EQ(d.flag_bit4, c.bit4);
    EXPECT_EQ(d.flags(), c.flags & 0x1F);
  }
}

TEST(BurnedInData, CountByteIsUnsigned) {
  std::vector<std::uint8_t> block = {0, 0, 0x10, 0, 0, 'M', 0, 0xFF};
  for (int i = 0; i < 255; ++i) {
    const std::string s = "-Dk" + std::to_string(i);
    block.insert(block.end(), s.begin(), s.end());
    block.push_back(0);
  }
  block.insert(block.end(), {0, 0});
  const BurnedInData d(block);
  ASSERT_TRUE(d.intact);
  ASSERT_EQ(d.jvm_options.size(), 255u);
  EXPECT_EQ(d.jvm_options[254], "-Dk254");
  EXPECT_EQ(d.stack_size, 0x100000u);
}

TEST(BurnedInData, BlockRunningPastTheAreaIsCorrupt) {
  const std::vector<std::vector<std::uint8_t>> cases = {
      {},                                          // no flags byte
      {0, 0, 0x20},                                // stack size cut short
      {0, 0, 0x20, 0, 0, 'M', 'a', 'i'},           // main class never ends
      {0, 0, 0x20, 0, 0, 'M', 0},                  // list count missing
      {0, 0, 0x20, 0, 0, 'M', 0, 2, 'a', 0, 'b'},  // second option never ends
      {0, 0, 0x20, 0, 0, 'M', 0, 0, 0},            // last count missing
  };
  for (const auto& block : cases) {
    const BurnedInData d(block);
    EXPECT_FALSE(d.intact) << block.size();
    EXPECT_TRUE(d.main_class.empty());
    EXPECT_TRUE(d.jvm_options.empty());
  }
}

}  // namespace
}  // namespace vorlane::formats
