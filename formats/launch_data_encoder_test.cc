#include "formats/launch_data_encoder.h"

#include <gtest/gtest.h>

namespace vorlane::formats {
namespace {

TEST(BinaryClassName, Table) {
  const struct {
    const char* name;
    bool valid;
  } cases[] = {
      {"demo.Main", true},
      {"Main", true},
      {"a.b.Outer$Inner", true},
      {"_x.$y", true},
      {"caf\xC3\xA9.Main", true},
      {"a1.b2", true},
      {"", false},
      {"demo/Main", false},
      {".Main", false},
      {"demo.", false},
      {"demo..Main", false},
      {"1demo.Main", false},
      {"demo.1Main", false},
      {"demo Main", false},
      {"demo.Main;", false},
      {"demo-app.Main", false},
  };
  for (const auto& c : cases) EXPECT_EQ(is_binary_class_name(c.name), c.valid) << c.name;
}

TEST(ParseSize, Table) {
  const struct {
    const char* text;
    std::optional<std::uint64_t> size;
  } cases[] = {
      {"2097152", 2097152},
      {"2m", 2097152},
      {"2M", 2097152},
      {"2048k", 2097152},
      {"1g", 1ull << 30},
      {"4g", 4ull << 30},
      {"", std::nullopt},
      {"m", std::nullopt},
      {"2mb", std::nullopt},
      {"-1", std::nullopt},
      {"2 m", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"17179869184g", std::nullopt},  // overflows 64 bits
  };
  for (const auto& c : cases) EXPECT_EQ(parse_size(c.text), c.size) << c.text;
}

BurnedInData sample() {
  BurnedInData block;
  block.console_app = true;
  block.flag_bit4 = true;
  block.stack_size = 3u << 20;
  block.main_class = "demo.Main";
  block.jvm_options = {"-Dapp.dir=&&", "-Xss1m"};
  block.app_args = {"--mode", "caf\xC3\xA9", ""};
  block.allowed_jvm_options = {"-Xmx"};
  return block;
}

TEST(EncodeBlock, DecodesBackToTheSameFields) {
  const BurnedInData block = sample();
  const std::vector<std::uint8_t> area = encode_area(block);
  ASSERT_EQ(area.size(), kLaunchAreaSize);
  EXPECT_EQ(area.back(), 0);
  EXPECT_EQ(area[area.size() - 2], '_');
  const BurnedInData decoded(area);
  EXPECT_TRUE(decoded.intact);
  EXPECT_EQ(decoded.flags(), block.flags());
  EXPECT_EQ(decoded.stack_size, block.stack_size);
  EXPECT_EQ(decoded.main_class, block.main_class);
  EXPECT_EQ(decoded.jvm_options, block.jvm_options);
  EXPECT_EQ(decoded.app_args, block.app_args);
  EXPECT_EQ(decoded.allowed_jvm_options, block.allowed_jvm_options);
}

TEST(ValidateBlock, AcceptsABlockRightUpToTheAreasLastByte) {
  BurnedInData block = sample();
  const std::size_t base = encode_block(block).size();
  // Built in place, not "-" + string: GCC 12 at -O3 sees a false overlap in the latter.
  std::string option(kLaunchAreaSize - 1 - base - 1, 'x');
  option[0] = '-';
  block.jvm_options.push_back(option);
  ASSERT_EQ(encode_block(block).size(), kLaunchAreaSize - 1);
  EXPECT_TRUE(validate_block(block, block.stack_size).empty());
  block.jvm_options.back() += 'x';
  const auto errors = validate_block(block, block.stack_size);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0],
            "the launch data takes 16,464 bytes, 1 more than the 16,463 the launcher has room for");
}

TEST(ValidateBlock, Refusals) {
  const struct {
    void (*change)(BurnedInData&, std::uint64_t&);
    std::string error;
  } cases[] = {
      {[](BurnedInData& b, std::uint64_t&) { b.main_class = "demo/Main"; },
       "main class 'demo/Main' is not a Java binary class name (identifiers joined by dots, such "
       "as demo.Main)"},
      {[](BurnedInData&, std::uint64_t& s) { s = std::uint64_t{112} * 1024; },
       "stack size 114,688 bytes is under the minimum of 1 MiB; the JVM cannot start on so small a "
       "stack"},
      {[](BurnedInData&, std::uint64_t& s) { s = 1ull << 32; },
       "stack size 4,294,967,296 bytes does not fit in 32 bits (at most 4,294,967,295)"},
      {[](BurnedInData& b, std::uint64_t&) { b.app_args.assign(256, "a"); },
       "too many arguments: 256, at most 255"},
      // The JVM would take it for the main class (`--java-option -Xmx1g stray`).
      {[](BurnedInData& b, std::uint64_t&) { b.jvm_options.emplace_back("stray"); },
       "JVM option 'stray' does not start with '-'"},
      {[](BurnedInData& b, std::uint64_t&) { b.jvm_options.emplace_back("-a\0b", 4); },
       "a string holds a 0 byte, which the launch data cannot carry"},
  };
  for (const auto& c : cases) {
    BurnedInData block = sample();
    std::uint64_t stack_size = block.stack_size;
    c.change(block, stack_size);
    EXPECT_EQ(validate_block(block, stack_size), std::vector<std::string>{c.error});
  }
  BurnedInData full = sample();
  full.allowed_jvm_options.assign(255, "-X");
  EXPECT_TRUE(validate_block(full, full.stack_size).empty());
}

}  // namespace
}  // namespace vorlane::formats
