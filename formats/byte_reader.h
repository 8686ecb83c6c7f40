// Bounds-checked reading of binary data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace vorlane::formats {

/// Reads values one after another from a byte range and never past its end.
/// The first read that would leave the range fails; from then on every read
/// fails and returns an empty value, so a decoder reads all fields and asks
/// `ok()` once at the end.
class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  /// Reads the bytes of `text`.
  explicit ByteReader(std::string_view text)
      : bytes_(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()) {}

  /// One byte.
  std::uint8_t u8();
  /// Two bytes, most significant first; no alignment needed.
  std::uint16_t u16_be();
  /// Four bytes, most significant first; no alignment needed.
  std::uint32_t u32_be();
  /// `size` bytes (1 to 8), least significant first.
  std::uint64_t uint_le(std::size_t size);
  /// The bytes up to the next 0 byte; the cursor moves past that 0. Fails
  /// when no 0 byte is left in the range.
  std::string c_string();
  /// The next `size` bytes.
  std::string bytes(std::size_t size);

  /// Moves the cursor to `offset`; fails when that lies past the end.
  void seek(std::uint64_t offset);

  /// Fails the reader, for a value read whole but not valid, so that the
  /// decoder's one check of `ok()` sees it too.
  void fail() { ok_ = false; }

  bool ok() const { return ok_; }
  std::size_t offset() const { return offset_; }
  /// Bytes left after the cursor.
  std::size_t remaining() const { return bytes_.size() - offset_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t offset_ = 0;
  bool ok_ = true;
};

}  // namespace vorlane::formats
