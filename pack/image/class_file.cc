#include "pack/image/class_file.h"

#include <string>
#include <vector>

#include "launcher/byte_reader.h"

namespace vorlane {

namespace {

constexpr std::uint32_t kMagic = 0xCAFEBABE;
constexpr std::uint16_t kPublic = 0x0001;
constexpr std::uint16_t kStatic = 0x0008;

enum ConstantTag : std::uint8_t {
  kUtf8 = 1,
  kLong = 5,
  kDouble = 6,
  kClass = 7,
};

/// Bytes after the tag of each constant-pool entry of fixed size; 0 for
/// tags that do not exist.
std::size_t fixed_size(std::uint8_t tag) {
  switch (tag) {
    case 3:   // Integer
    case 4:   // Float
    case 9:   // Fieldref
    case 10:  // Methodref
    case 11:  // InterfaceMethodref
    case 12:  // NameAndType
    case 17:  // Dynamic
    case 18:  // InvokeDynamic
      return 4;
    case kLong:
    case kDouble:
      return 8;
    case kClass:
    case 8:   // String
    case 16:  // MethodType
    case 19:  // Module
    case 20:  // Package
      return 2;
    case 15:  // MethodHandle
      return 3;
    default:
      return 0;
  }
}

void skip(ByteReader& r, std::size_t bytes) { r.seek(r.offset() + bytes); }

/// Skips the attributes of a field, a method or the class.
void skip_attributes(ByteReader& r) {
  const std::uint16_t count = r.u16_be();
  for (unsigned i = 0; i < count && r.ok(); ++i) {
    r.u16_be();
    skip(r, r.u32_be());
  }
}

}  // namespace

MainMethod find_main_method(std::span<const std::uint8_t> class_file) {
  ByteReader r(class_file);
  if (r.u32_be() != kMagic) return MainMethod::kNotAClassFile;
  skip(r, 4);  // minor and major version
  const std::uint16_t pool_count = r.u16_be();
  // Each entry: its text when it is Utf8, its name's index when it is a Class.
  std::vector<std::string> utf8(pool_count);
  std::vector<std::uint16_t> class_name(pool_count);
  for (unsigned i = 1; i < pool_count && r.ok(); ++i) {
    const std::uint8_t tag = r.u8();
    if (tag == kUtf8) {
      const std::uint16_t length = r.u16_be();
      const std::size_t at = r.offset();
      skip(r, length);
      if (r.ok()) utf8[i].assign(reinterpret_cast<const char*>(class_file.data() + at), length);
    } else if (tag == kClass) {
      class_name[i] = r.u16_be();
    } else if (fixed_size(tag) != 0) {
      skip(r, fixed_size(tag));
      if (tag == kLong || tag == kDouble) ++i;  // they take two entries
    } else {
      return MainMethod::kNotAClassFile;
    }
  }
  const auto text = [&](std::uint16_t index) -> std::string {
    return index < pool_count ? utf8[index] : std::string();
  };
  skip(r, 4);  // access flags, this class
  const std::uint16_t super = r.u16_be();
  skip(r, std::size_t{2} * r.u16_be());  // interfaces
  bool declared = false;
  for (int members = 0; members < 2 && r.ok(); ++members) {  // fields, then methods
    const std::uint16_t count = r.u16_be();
    for (unsigned i = 0; i < count && r.ok(); ++i) {
      const std::uint16_t flags = r.u16_be();
      const std::uint16_t name = r.u16_be();
      const std::uint16_t descriptor = r.u16_be();
      skip_attributes(r);
      if (members == 1 && r.ok() && (flags & (kPublic | kStatic)) == (kPublic | kStatic) &&
          text(name) == "main" && text(descriptor) == "([Ljava/lang/String;)V") {
        declared = true;
      }
    }
  }
  skip_attributes(r);  // the class's own
  if (!r.ok()) return MainMethod::kNotAClassFile;
  if (declared) return MainMethod::kDeclared;
  const std::string super_name = super < pool_count ? text(class_name[super]) : std::string();
  return super_name == "java/lang/Object" ? MainMethod::kMissing : MainMethod::kMaybeInherited;
}

}  // namespace vorlane
