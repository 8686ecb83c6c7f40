// Fuzz target: the conversion of argument bytes into JNI's modified UTF-8.
//
// Beyond "no crash": the output is well-formed modified UTF-8 (no 0 byte, no
// 4-byte form, no overlong form but C0 80, surrogates only in pairs), so the
// JVM reads all of it; read back as UTF-16 and written as standard UTF-8 it
// gives valid input back unchanged; and it is at most three times as long.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "launcher/modified_utf8.h"

namespace {

using vorlane::fuzz::require;

/// The UTF-16 units of well-formed modified UTF-8, or nullopt.
std::optional<std::u16string> read_modified_utf8(std::string_view s) {
  std::u16string units;
  std::size_t i = 0;
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const auto continuation = [&](std::size_t k) { return k < s.size() && (byte(k) & 0xC0) == 0x80; };
  while (i < s.size()) {
    const unsigned lead = byte(i);
    if (lead >= 0x01 && lead <= 0x7F) {
      units.push_back(static_cast<char16_t>(lead));
      i += 1;
    } else if ((lead & 0xE0) == 0xC0 && continuation(i + 1)) {
      const unsigned unit = (lead & 0x1F) << 6 | (byte(i + 1) & 0x3F);
      if (unit < 0x80 && unit != 0) return std::nullopt;  // overlong, but for C0 80
      units.push_back(static_cast<char16_t>(unit));
      i += 2;
    } else if ((lead & 0xF0) == 0xE0 && continuation(i + 1) && continuation(i + 2)) {
      const unsigned unit = (lead & 0x0F) << 12 | (byte(i + 1) & 0x3F) << 6 | (byte(i + 2) & 0x3F);
      if (unit < 0x800) return std::nullopt;
      units.push_back(static_cast<char16_t>(unit));
      i += 3;
    } else {
      return std::nullopt;
    }
  }
  // Surrogates only as high-low pairs, or the JVM builds a broken string.
  for (std::size_t k = 0; k < units.size(); ++k) {
    const bool high = units[k] >= 0xD800 && units[k] <= 0xDBFF;
    const bool low = units[k] >= 0xDC00 && units[k] <= 0xDFFF;
    if (low) return std::nullopt;
    if (high) {
      if (k + 1 == units.size() || units[k + 1] < 0xDC00 || units[k + 1] > 0xDFFF) {
        return std::nullopt;
      }
      ++k;
    }
  }
  return units;
}

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

/// `units` (surrogates paired) as standard UTF-8.
std::string to_utf8(const std::u16string& units) {
  std::string out;
  for (std::size_t k = 0; k < units.size(); ++k) {
    char32_t c = units[k];
    if (c >= 0xD800 && c <= 0xDBFF) {
      c = 0x10000 + ((c - 0xD800) << 10 | (units[++k] - 0xDC00));
    }
    append_utf8(out, c);
  }
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
  const std::optional<std::u16string> units = read_modified_utf8(output);
  require(units.has_value(), "the output is well-formed modified UTF-8");
  if (is_valid_utf8(input)) {
    require(to_utf8(*units) == input, "valid UTF-8 keeps its characters");
  } else {
    require(units->find(u'\uFFFD') != std::u16string::npos, "invalid bytes become U+FFFD");
  }
  return 0;
}
