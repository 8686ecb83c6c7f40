#include "pack/image/block_encoder.h"

#include <charconv>
#include <limits>

namespace vorlane {

namespace {

bool is_identifier_start(unsigned char c) {
  // Bytes of 0x80 and up belong to non-ASCII letters in UTF-8 names.
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' || c >= 0x80;
}

bool is_identifier_part(unsigned char c) {
  return is_identifier_start(c) || (c >= '0' && c <= '9');
}

void append_string(std::vector<std::uint8_t>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
}

void append_list(std::vector<std::uint8_t>& out, const std::vector<std::string>& list) {
  out.push_back(static_cast<std::uint8_t>(list.size()));
  for (const std::string& s : list) append_string(out, s);
}

std::string with_commas(std::uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

}  // namespace

bool is_binary_class_name(std::string_view name) {
  bool at_part_start = true;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '.') {
      if (at_part_start) return false;
      at_part_start = true;
    } else if (at_part_start ? is_identifier_start(c) : is_identifier_part(c)) {
      at_part_start = false;
    } else {
      return false;
    }
  }
  return !at_part_start;
}

std::optional<std::uint64_t> parse_size(std::string_view text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  auto [rest, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || rest == text.data()) return std::nullopt;
  std::uint64_t unit = 1;
  if (rest != end) {
    switch (*rest++) {
      case 'k':
      case 'K':
        unit = 1ull << 10;
        break;
      case 'm':
      case 'M':
        unit = 1ull << 20;
        break;
      case 'g':
      case 'G':
        unit = 1ull << 30;
        break;
      default:
        return std::nullopt;
    }
  }
  if (rest != end || value > std::numeric_limits<std::uint64_t>::max() / unit) return std::nullopt;
  return value * unit;
}

std::vector<std::string> validate_block(const BurnedInData& block, std::uint64_t stack_size) {
  std::vector<std::string> errors;
  if (!is_binary_class_name(block.main_class)) {
    errors.push_back("main class '" + block.main_class +
                     "' is not a Java binary class name (identifiers joined by dots, such as "
                     "demo.Main)");
  }
  if (stack_size < kMinStackSize) {
    errors.push_back("stack size " + with_commas(stack_size) +
                     " bytes is under the minimum of 1 MiB; the JVM cannot start on so small a "
                     "stack");
  } else if (stack_size > std::numeric_limits<std::uint32_t>::max()) {
    errors.push_back("stack size " + with_commas(stack_size) +
                     " bytes does not fit in 32 bits (at most 4,294,967,295)");
  }
  const std::pair<const char*, const std::vector<std::string>*> lists[] = {
      {"JVM options", &block.jvm_options},
      {"arguments", &block.app_args},
      {"allowed JVM option prefixes", &block.allowed_jvm_options},
  };
  bool has_nul = block.main_class.find('\0') != std::string::npos;
  for (const auto& [what, list] : lists) {
    if (list->size() > kMaxListEntries) {
      errors.push_back(std::string("too many ") + what + ": " + std::to_string(list->size()) +
                       ", at most 255");
    }
    for (const std::string& s : *list) has_nul = has_nul || s.find('\0') != std::string::npos;
  }
  if (has_nul) errors.emplace_back("a string holds a 0 byte, which the launch data cannot carry");
  if (errors.empty()) {
    // The area keeps its last byte for the final 0.
    const std::size_t size = encode_block(block).size();
    if (size > kLaunchAreaSize - 1) {
      errors.push_back("the launch data takes " + with_commas(size) + " bytes, " +
                       with_commas(size - (kLaunchAreaSize - 1)) + " more than the " +
                       with_commas(kLaunchAreaSize - 1) + " the launcher has room for");
    }
  }
  return errors;
}

std::vector<std::uint8_t> encode_block(const BurnedInData& block) {
  std::vector<std::uint8_t> out;
  out.push_back(block.flags());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back((block.stack_size >> shift) & 0xFF);
  append_string(out, block.main_class);
  append_list(out, block.jvm_options);
  append_list(out, block.app_args);
  append_list(out, block.allowed_jvm_options);
  return out;
}

std::vector<std::uint8_t> encode_area(const BurnedInData& block) {
  std::vector<std::uint8_t> area = encode_block(block);
  area.resize(kLaunchAreaSize - 1, '_');
  area.push_back(0);
  return area;
}

}  // namespace vorlane
