#include "launcher/modified_utf8.h"

#include <cstdint>

namespace vorlane {

namespace {

void append_3_bytes(std::string& out, std::uint32_t unit) {
  out += static_cast<char>(0xE0 | (unit >> 12));
  out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
  out += static_cast<char>(0x80 | (unit & 0x3F));
}

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

/// Length of the valid UTF-8 sequence starting at `s[i]`, or 0 when the byte
/// there does not start one. Follows the well-formed byte table of Unicode
/// (no overlong forms, no surrogates, nothing above U+10FFFF).
std::size_t valid_sequence_length(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char lead = byte(0);
  const std::size_t left = s.size() - i;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return left >= 2 && is_continuation(byte(1)) ? 2 : 0;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (left < 3) return 0;
    const unsigned char lo = lead == 0xE0 ? 0xA0 : 0x80;
    const unsigned char hi = lead == 0xED ? 0x9F : 0xBF;
    return byte(1) >= lo && byte(1) <= hi && is_continuation(byte(2)) ? 3 : 0;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (left < 4) return 0;
    const unsigned char lo = lead == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = lead == 0xF4 ? 0x8F : 0xBF;
    return byte(1) >= lo && byte(1) <= hi && is_continuation(byte(2)) && is_continuation(byte(3))
               ? 4
               : 0;
  }
  return 0;
}

}  // namespace

std::string to_modified_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const std::size_t length = valid_sequence_length(bytes, i);
    if (length == 0) {
      append_3_bytes(out, 0xFFFD);
      i += 1;
    } else if (length == 1 && bytes[i] == '\0') {
      out += "\xC0\x80";
      i += 1;
    } else if (length == 4) {
      const auto b = [&](std::size_t k) {
        return static_cast<unsigned char>(bytes[i + k]) & 0x3Fu;
      };
      const std::uint32_t code_point =
          (static_cast<unsigned char>(bytes[i]) & 0x07u) << 18 | b(1) << 12 | b(2) << 6 | b(3);
      const std::uint32_t offset = code_point - 0x10000;
      append_3_bytes(out, 0xD800 | (offset >> 10));
      append_3_bytes(out, 0xDC00 | (offset & 0x3FF));
      i += 4;
    } else {
      out.append(bytes, i, length);
      i += length;
    }
  }
  return out;
}

}  // namespace vorlane
