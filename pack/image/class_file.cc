#include "pack/image/class_file.h"

#include <string>
#include <vector>

#include "formats/byte_reader.h"

namespace vorlane {

using formats::ByteReader;

namespace {

constexpr std::uint32_t kMagic = 0xCAFEBABE;
constexpr std::uint16_t kPublic = 0x0001;
constexpr std::uint16_t kPrivate = 0x0002;
constexpr std::uint16_t kStatic = 0x0008;
constexpr std::uint16_t kInterface = 0x0200;
constexpr std::uint16_t kAbstract = 0x0400;

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

MainRules main_rules_for(int feature_version) {
  return feature_version >= kFlexibleMainRelease ? MainRules::kFlexible : MainRules::kClassic;
}

namespace {

/// A `main` the class declares under the flexible rules, in one of its two
/// forms: whether there is one, whether it starts, and whether it is static.
struct DeclaredMain {
  bool declared = false;
  bool valid = false;
  bool is_static = false;
};

}  // namespace

MainMethod find_main_method(std::span<const std::uint8_t> class_file, MainRules rules) {
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
  const std::uint16_t class_flags = r.u16_be();
  skip(r, 2);  // this class
  const std::uint16_t super = r.u16_be();
  const std::uint16_t interfaces = r.u16_be();
  skip(r, std::size_t{2} * interfaces);
  bool classic = false;
  // The flexible rules' two forms, main(String[]) and main(), and the
  // constructor an instance main is called on.
  DeclaredMain with_args;
  DeclaredMain without_args;
  bool constructor = false;
  for (int members = 0; members < 2 && r.ok(); ++members) {  // fields, then methods
    const std::uint16_t count = r.u16_be();
    for (unsigned i = 0; i < count && r.ok(); ++i) {
      const std::uint16_t flags = r.u16_be();
      const std::uint16_t name = r.u16_be();
      const std::uint16_t descriptor = r.u16_be();
      skip_attributes(r);
      if (members == 0 || !r.ok()) continue;
      const std::string method = text(name);
      const std::string type = text(descriptor);
      if (method == "<init>" && type == "()V" && (flags & kPrivate) == 0) constructor = true;
      if (method != "main") continue;
      if ((flags & (kPublic | kStatic)) == (kPublic | kStatic) &&
          type == "([Ljava/lang/String;)V") {
        classic = true;
      }
      // The runtime looks a form up by its parameters, then checks what it found.
      DeclaredMain* form = type.starts_with("([Ljava/lang/String;)") ? &with_args
                           : type.starts_with("()")                  ? &without_args
                                                                     : nullptr;
      if (form == nullptr) continue;
      form->declared = true;
      form->valid = type.ends_with(")V") && (flags & kPrivate) == 0;
      form->is_static = (flags & kStatic) != 0;
    }
  }
  skip_attributes(r);  // the class's own
  if (!r.ok()) return MainMethod::kNotAClassFile;
  const std::string super_name = super < pool_count ? text(class_name[super]) : std::string();
  const bool supertypes = super_name != "java/lang/Object" || interfaces > 0;
  if (rules == MainRules::kClassic) {
    if (classic) return MainMethod::kDeclared;
    // Static methods of interfaces are not inherited.
    return super_name == "java/lang/Object" ? MainMethod::kMissing : MainMethod::kMaybeInherited;
  }
  // A form the class does not declare may come from a supertype, and
  // main(String[]) is looked up first.
  const DeclaredMain* chosen = nullptr;
  if (with_args.valid) {
    chosen = &with_args;
  } else if (!with_args.declared && supertypes) {
    return without_args.valid && without_args.is_static ? MainMethod::kDeclared
                                                        : MainMethod::kMaybeInherited;
  } else if (without_args.valid) {
    chosen = &without_args;
  } else {
    return !without_args.declared && supertypes ? MainMethod::kMaybeInherited
                                                : MainMethod::kMissing;
  }
  if (!chosen->is_static && ((class_flags & (kAbstract | kInterface)) != 0 || !constructor)) {
    return MainMethod::kCannotInstantiate;
  }
  return MainMethod::kDeclared;
}

}  // namespace vorlane
