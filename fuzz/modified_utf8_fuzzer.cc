// Fuzz target: the conversion of argument bytes into JNI's modified UTF-8.
//
// Beyond "no crash": the output is well-formed modified UTF-8 (no 0 byte, no
// 4-byte form, no overlong form but C0 80, surrogates only in pairs), so the
// JVM reads all of it; read back and written as standard UTF-8 it gives valid
// input back unchanged; and it is at most three times as long.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "launcher/modified_utf8.h"

namespace {

using vorlane::fuzz::require;

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
  } else if (c < 0x10000) {
    out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
            static_cast<char>(0x80 | (c & 0x3F))};
  } else {
    out += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
            static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
  }
}

/// Well-formed modified UTF-8 (no 0 byte, no 4-byte or overlong form but
/// C0 80, surrogates only as high-low pairs) read as the JVM reads it and
/// written as standard UTF-8; nullopt for anything else.
std::optional<std::string> modified_to_standard(std::string_view s) {
  std::string out;
  char32_t high = 0;
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const auto continuation = [&](std::size_t k) { return k < s.size() && (byte(k) & 0xC0) == 0x80; };
  for (std::size_t i = 0; i < s.size();) {
    const unsigned lead = byte(i);
    char32_t unit = 0;
    if (lead >= 0x01 && lead <= 0x7F) {
      unit = lead;
      i += 1;
    } else if ((lead & 0xE0) == 0xC0 && continuation(i + 1)) {
      unit = (lead & 0x1F) << 6 | (byte(i + 1) & 0x3F);
      if (unit < 0x80 && unit != 0) return std::nullopt;
      i += 2;
    } else if ((lead & 0xF0) == 0xE0 && continuation(i + 1) && continuation(i + 2)) {
      unit = (lead & 0x0F) << 12 | (byte(i + 1) & 0x3F) << 6 | (byte(i + 2) & 0x3F);
      if (unit < 0x800) return std::nullopt;
      i += 3;
    } else {
      return std::nullopt;
    }
    const bool is_low = unit >= 0xDC00 && unit <= 0xDFFF;
    if ((high != 0) != is_low) return std::nullopt;  // a lone half of a pair
    if (is_low) {
      append_utf8(out, 0x10000 + ((high - 0xD800) << 10 | (unit - 0xDC00)));
      high = 0;
    } else if (unit >= 0xD800 && unit <= 0xDBFF) {
      high = unit;
    } else {
      append_utf8(out, unit);
    }
  }
  if (high != 0) return std::nullopt;
  return out;
}

/// Whether `s` is valid UTF-8: each sequence decodes to a scalar value
/// (not a surrogate, at most U+10FFFF) in its shortest form.
bool is_valid_utf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto lead = static_cast<unsigned char>(s[i]);
    const std::size_t length = lead < 0x80       ? 1
                               : lead >> 5 == 6  ? 2
                               : lead >> 4 == 14 ? 3
                               : lead >> 3 == 30 ? 4
                                                 : 0;
    if (length == 0 || i + length > s.size()) return false;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(s[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = c << 6 | (next & 0x3F);
    }
    constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (length > 1 && c < kShortest[length]) return false;
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
    i += length;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(bytes), size);
  const std::string output = vorlane::to_modified_utf8(input);
  require(output.size() <= 3 * input.size(), "the output is at most three times the input");
  const std::optional<std::string> standard = modified_to_standard(output);
  require(standard.has_value(), "the output is well-formed modified UTF-8");
  if (is_valid_utf8(input)) {
    require(*standard == input, "valid UTF-8 keeps its characters");
  } else {
    require(standard->find("\xEF\xBF\xBD") != std::string::npos, "invalid bytes become U+FFFD");
  }
  return 0;
}
