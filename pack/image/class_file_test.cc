#include "pack/image/class_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vorlane {
namespace {

struct Method {
  std::uint16_t flags;
  std::string name;
  std::string descriptor;
};

/// A class `Main` of `class_flags` extending `super` with `methods`, and a
/// Long constant (which takes two entries).
std::vector<std::uint8_t> class_file(std::vector<Method> methods,
                                     const std::string& super = "java/lang/Object",
                                     std::uint16_t class_flags = 0x21, bool interface = false) {
  std::vector<std::uint8_t> out = {0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 61};
  const auto u16 = [&out](unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
  };
  const auto utf8 = [&](const std::string& s) {
    out.push_back(1);
    u16(static_cast<unsigned>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
  };
  u16(8 + 2 * static_cast<unsigned>(methods.size()));
  utf8("Main");                                        // 1
  out.insert(out.end(), {7, 0, 1});                    // 2: class Main
  utf8(super);                                         // 3
  out.insert(out.end(), {7, 0, 3});                    // 4: its superclass (and interface)
  out.insert(out.end(), {5, 0, 0, 0, 0, 0, 0, 0, 1});  // 5 and 6: a Long
  utf8("Code");                                        // 7
  for (const Method& m : methods) {                    // 8, 9, ...
    utf8(m.name);
    utf8(m.descriptor);
  }
  // This class, super class, interfaces, no fields, the methods each with an
  // attribute skipped by its length, no class attributes.
  for (const unsigned v : {unsigned{class_flags}, 2u, 4u}) u16(v);
  u16(interface ? 1 : 0);
  if (interface) u16(4);
  u16(0);
  u16(static_cast<unsigned>(methods.size()));
  for (std::size_t i = 0; i < methods.size(); ++i) {
    for (const unsigned v : {unsigned{methods[i].flags}, 8 + 2 * static_cast<unsigned>(i),
                             9 + 2 * static_cast<unsigned>(i), 1u, 7u, 0u, 2u}) {
      u16(v);
    }
    out.insert(out.end(), {0xAA, 0xBB});
  }
  u16(0);
  return out;
}

std::vector<std::uint8_t> class_file(std::uint16_t flags, const std::string& name,
                                     const std::string& descriptor,
                                     const std::string& super = "java/lang/Object") {
  return class_file({{flags, name, descriptor}}, super);
}

TEST(FindMainMethod, Table) {
  const std::string kMain = "([Ljava/lang/String;)V";
  using M = MainMethod;
  const Method init{0x0001, "<init>", "()V"};
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
    MainMethod classic;
    MainMethod flexible;  ///< the rules of 25 and later
  } cases[] = {
      {"public static", class_file(0x0009, "main", kMain), M::kDeclared, M::kDeclared},
      {"public static final", class_file(0x0019, "main", kMain), M::kDeclared, M::kDeclared},
      {"not static, no constructor", class_file(0x0001, "main", kMain), M::kMissing,
       M::kCannotInstantiate},
      {"instance", class_file({{0x0001, "main", kMain}, init}), M::kMissing, M::kDeclared},
      {"instance, private constructor",
       class_file({{0x0001, "main", kMain}, {0x0002, "<init>", "()V"}}), M::kMissing,
       M::kCannotInstantiate},
      {"instance in an abstract class",
       class_file({{0x0001, "main", kMain}, init}, "java/lang/Object", 0x0421), M::kMissing,
       M::kCannotInstantiate},
      {"not public", class_file(0x0008, "main", kMain), M::kMissing, M::kDeclared},
      {"private", class_file(0x000A, "main", kMain), M::kMissing, M::kMissing},
      {"static void main()", class_file(0x0008, "main", "()V"), M::kMissing, M::kDeclared},
      {"void main()", class_file({{0x0000, "main", "()V"}, init}), M::kMissing, M::kDeclared},
      {"private main(String[]) before main()",
       class_file({{0x000A, "main", kMain}, {0x0008, "main", "()V"}}), M::kMissing, M::kDeclared},
      {"main() returns int", class_file(0x0008, "main", "()I"), M::kMissing, M::kMissing},
      {"other name", class_file(0x0009, "start", kMain), M::kMissing, M::kMissing},
      {"returns int", class_file(0x0009, "main", "([Ljava/lang/String;)I"), M::kMissing,
       M::kMissing},
      {"a superclass may have it", class_file(0x0009, "run", kMain, "demo/Base"),
       M::kMaybeInherited, M::kMaybeInherited},
      {"an interface may have it",
       class_file({{0x0009, "run", kMain}}, "java/lang/Object", 0x21, true), M::kMissing,
       M::kMaybeInherited},
      {"both forms private: a superclass's is not looked at",
       class_file({{0x000A, "main", kMain}, {0x0002, "main", "()V"}}, "demo/Base"),
       M::kMaybeInherited, M::kMissing},
      {"empty", {}, M::kNotAClassFile, M::kNotAClassFile},
      {"not a class", {'P', 'K', 3, 4, 0, 0, 0, 0}, M::kNotAClassFile, M::kNotAClassFile},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(find_main_method(c.bytes, MainRules::kClassic), c.classic) << c.what;
    EXPECT_EQ(find_main_method(c.bytes, MainRules::kFlexible), c.flexible) << c.what;
  }

  // Every cut of a class file is refused, never read past its end.
  const std::vector<std::uint8_t> whole = class_file(0x0009, "main", kMain);
  for (std::size_t size = 0; size < whole.size(); ++size) {
    for (const MainRules rules : {MainRules::kClassic, MainRules::kFlexible}) {
      EXPECT_EQ(find_main_method(std::span(whole).first(size), rules), M::kNotAClassFile) << size;
    }
  }
  EXPECT_EQ(main_rules_for(24), MainRules::kClassic);
  EXPECT_EQ(main_rules_for(25), MainRules::kFlexible);
}

}  // namespace
}  // namespace vorlane
