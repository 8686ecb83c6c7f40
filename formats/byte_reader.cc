#include "formats/byte_reader.h"

#include <cstring>

namespace vorlane::formats {

std::uint8_t ByteReader::u8() {
  if (!ok_ || bytes_.size() - offset_ < 1) {
    ok_ = false;
    return 0;
  }
  return bytes_[offset_++];
}

std::uint16_t ByteReader::u16_be() {
  if (!ok_ || bytes_.size() - offset_ < 2) {
    ok_ = false;
    return 0;
  }
  const std::uint8_t* p = bytes_.data() + offset_;
  offset_ += 2;
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

std::uint32_t ByteReader::u32_be() {
  if (!ok_ || bytes_.size() - offset_ < 4) {
    ok_ = false;
    return 0;
  }
  const std::uint8_t* p = bytes_.data() + offset_;
  offset_ += 4;
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
         std::uint32_t{p[3]};
}

std::uint64_t ByteReader::uint_le(std::size_t size) {
  if (!ok_ || size > 8 || bytes_.size() - offset_ < size) {
    ok_ = false;
    return 0;
  }
  std::uint64_t value = 0;
  for (std::size_t i = size; i-- > 0;) value = value << 8 | bytes_[offset_ + i];
  offset_ += size;
  return value;
}

void ByteReader::seek(std::uint64_t offset) {
  if (!ok_ || offset > bytes_.size()) {
    ok_ = false;
    return;
  }
  offset_ = static_cast<std::size_t>(offset);
}

std::string ByteReader::c_string() {
  if (!ok_) return {};
  const std::uint8_t* start = bytes_.data() + offset_;
  const std::size_t left = bytes_.size() - offset_;
  const void* nul = std::memchr(start, 0, left);
  if (nul == nullptr) {
    ok_ = false;
    return {};
  }
  const std::size_t length = static_cast<const std::uint8_t*>(nul) - start;
  offset_ += length + 1;
  return {reinterpret_cast<const char*>(start), length};
}

std::string ByteReader::bytes(std::size_t size) {
  if (!ok_ || bytes_.size() - offset_ < size) {
    ok_ = false;
    return {};
  }
  const char* start = reinterpret_cast<const char*>(bytes_.data() + offset_);
  offset_ += size;
  return {start, size};
}

}  // namespace vorlane::formats
