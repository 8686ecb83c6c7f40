#include "formats/byte_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace vorlane::formats {
namespace {

using namespace std::string_literals;

// Each case reads from "ab\0cdef" (7 bytes); `ok` is the reader's state after
// it and `value` what the last read gave.
TEST(ByteReader, ReadsNeverPastTheEndAndFailuresStick) {
  const std::string input = "ab\0cdef"s;
  const struct {
    const char* what;
    std::function<std::string(ByteReader&)> read;
    bool ok;
    std::string value;
  } cases[] = {
      {"c_string", [](ByteReader& r) { return r.c_string(); }, true, "ab"},
      {"c_string then the rest", [](ByteReader& r) { return (void)r.c_string(), r.bytes(4); }, true,
       "cdef"},
      {"bytes up to the end", [](ByteReader& r) { return r.bytes(7); }, true, "ab\0cdef"s},
      {"bytes past the end", [](ByteReader& r) { return r.bytes(8); }, false, ""},
      {"no 0 byte left", [](ByteReader& r) { return (void)r.c_string(), r.c_string(); }, false, ""},
      {"after a failure", [](ByteReader& r) { return (void)r.bytes(8), r.bytes(1); }, false, ""},
      {"uint_le", [](ByteReader& r) { return std::to_string(r.uint_le(2)); }, true,
       std::to_string(0x6261)},
      {"uint_le of 9 bytes", [](ByteReader& r) { return std::to_string(r.uint_le(9)); }, false,
       "0"},
      {"u32_be", [](ByteReader& r) { return std::to_string(r.u32_be()); }, true,
       std::to_string(0x61620063)},
      {"seek to the end", [](ByteReader& r) { return r.seek(7), std::to_string(r.remaining()); },
       true, "0"},
      {"seek past the end", [](ByteReader& r) { return r.seek(8), std::string(); }, false, ""},
      {"fail", [](ByteReader& r) { return r.fail(), r.bytes(0); }, false, ""},
  };
  for (const auto& c : cases) {
    ByteReader reader(input);
    EXPECT_EQ(c.read(reader), c.value) << c.what;
    EXPECT_EQ(reader.ok(), c.ok) << c.what;
  }
}

}  // namespace
}  // namespace vorlane::formats
