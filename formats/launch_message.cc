#include "formats/launch_message.h"

#include "formats/byte_reader.h"

namespace vorlane::formats {

namespace {

constexpr std::string_view kMagic = "VLS1";

void put_u32(std::string& out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void put_string(std::string& out, std::string_view s) {
  put_u32(out, static_cast<std::uint32_t>(s.size()));
  out += s;
}

void put_optional(std::string& out, const std::optional<std::string>& s) {
  out += static_cast<char>(s ? 1 : 0);
  if (s) put_string(out, *s);
}

std::uint32_t read_u32(ByteReader& reader) { return static_cast<std::uint32_t>(reader.uint_le(4)); }

std::string read_string(ByteReader& reader) { return reader.bytes(read_u32(reader)); }

/// A presence byte and, when it is 1, the string; any other byte fails the read.
std::optional<std::string> read_optional(ByteReader& reader) {
  const std::uint8_t present = reader.u8();
  if (present == 0) return std::nullopt;
  if (present != 1) {
    reader.fail();
    return std::nullopt;
  }
  return read_string(reader);
}

}  // namespace

std::string encode_launch(const ForwardedLaunch& launch) {
  std::string body;
  put_string(body, launch.working_directory);
  put_optional(body, launch.activation_token);
  put_optional(body, launch.startup_id);
  put_u32(body, static_cast<std::uint32_t>(launch.args.size()));
  for (const std::string& arg : launch.args) put_string(body, arg);
  std::string message(kMagic);
  put_u32(message, static_cast<std::uint32_t>(body.size()));
  return message + body;
}

std::optional<std::uint32_t> launch_body_size(std::string_view header) {
  if (header.size() != kLaunchHeaderSize || !header.starts_with(kMagic)) return std::nullopt;
  ByteReader reader(header.substr(kMagic.size()));
  const std::uint32_t size = read_u32(reader);
  if (size > kMaxLaunchMessage) return std::nullopt;
  return size;
}

std::optional<ForwardedLaunch> decode_launch_body(std::string_view body) {
  ByteReader reader(body);
  ForwardedLaunch launch;
  launch.working_directory = read_string(reader);
  launch.activation_token = read_optional(reader);
  launch.startup_id = read_optional(reader);
  const std::uint32_t count = read_u32(reader);
  // Each argument takes at least its 4-byte length: a count the rest cannot
  // hold is refused before anything is reserved for it.
  if (!reader.ok() || count > reader.remaining() / 4) return std::nullopt;
  launch.args.reserve(count);
  for (std::uint32_t i = 0; i < count && reader.ok(); ++i)
    launch.args.push_back(read_string(reader));
  if (!reader.ok() || reader.remaining() != 0) return std::nullopt;
  return launch;
}

}  // namespace vorlane::formats
