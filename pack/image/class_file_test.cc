#include "pack/image/class_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorlane {
namespace {

/// A class `Main` extending `super` with one method of the given flags,
/// name and descriptor, and a Long constant (which takes two entries).
std::vector<std::uint8_t> class_file(std::uint16_t flags, const std::string& name,
                                     const std::string& descriptor,
                                     const std::string& super = "java/lang/Object") {
  std::vector<std::uint8_t> out = {0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 61, 0, 10};
  const auto u16 = [&out](unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
  };
  const auto utf8 = [&](const std::string& s) {
    out.push_back(1);
    u16(static_cast<unsigned>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
  };
  utf8("Main");                                        // 1
  out.insert(out.end(), {7, 0, 1});                    // 2: class Main
  utf8(super);                                         // 3
  out.insert(out.end(), {7, 0, 3});                    // 4: its superclass
  utf8(name);                                          // 5
  utf8(descriptor);                                    // 6
  out.insert(out.end(), {5, 0, 0, 0, 0, 0, 0, 0, 1});  // 7 and 8: a Long
  utf8("Code");                                        // 9
  // Public, this class, super class, no interfaces, no fields, one method
  // with an attribute skipped by its length, no class attributes.
  for (const unsigned v : {0x21u, 2u, 4u, 0u, 0u, 1u, unsigned{flags}, 5u, 6u, 1u, 9u, 0u, 2u}) {
    u16(v);
  }
  out.insert(out.end(), {0xAA, 0xBB, 0, 0});
  return out;
}

TEST(FindMainMethod, Table) {
  const std::string kMain = "([Ljava/lang/String;)V";
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
    MainMethod expected;
  } cases[] = {
      {"public static", class_file(0x0009, "main", kMain), MainMethod::kDeclared},
      {"public static final", class_file(0x0019, "main", kMain), MainMethod::kDeclared},
      {"not static", class_file(0x0001, "main", kMain), MainMethod::kMissing},
      {"not public", class_file(0x0008, "main", kMain), MainMethod::kMissing},
      {"other name", class_file(0x0009, "start", kMain), MainMethod::kMissing},
      {"returns int", class_file(0x0009, "main", "([Ljava/lang/String;)I"), MainMethod::kMissing},
      {"a superclass may have it", class_file(0x0009, "run", kMain, "demo/Base"),
       MainMethod::kMaybeInherited},
      {"empty", {}, MainMethod::kNotAClassFile},
      {"not a class", {'P', 'K', 3, 4, 0, 0, 0, 0}, MainMethod::kNotAClassFile},
  };
  for (const auto& c : cases) EXPECT_EQ(find_main_method(c.bytes), c.expected) << c.what;

  // Every cut of a class file is refused, never read past its end.
  const std::vector<std::uint8_t> whole = class_file(0x0009, "main", kMain);
  for (std::size_t size = 0; size < whole.size(); ++size) {
    EXPECT_EQ(find_main_method(std::span(whole).first(size)), MainMethod::kNotAClassFile) << size;
  }
}

}  // namespace
}  // namespace vorlane
