// Reading a Java class file far enough to tell whether it can start an app.
#pragma once

#include <cstdint>
#include <span>

namespace vorlane {

/// Which main methods a runtime starts. Before 25 only `public static void
/// main(String[])`. From 25 on a `void main(String[])`, else a `void
/// main()`, each static or not, of any access but private, declared or
/// inherited (from superclasses, then interfaces' defaults); an instance
/// main needs a concrete class with a non-private constructor without
/// arguments.
enum class MainRules {
  kClassic,
  kFlexible,
};

/// The release from which a runtime applies MainRules::kFlexible.
inline constexpr int kFlexibleMainRelease = 25;

/// What a class file says about the main method `rules` pick.
enum class MainMethod {
  kDeclared,           ///< the class declares one that starts
  kMaybeInherited,     ///< it does not, but a superclass or interface other than Object might
  kMissing,            ///< neither the class nor (Object being its superclass) any supertype has it
  kCannotInstantiate,  ///< an instance main, but nothing to call it on (abstract, no constructor)
  kNotAClassFile,      ///< the bytes are no class file, or one cut short
};

MainMethod find_main_method(std::span<const std::uint8_t> class_file,
                            MainRules rules = MainRules::kClassic);

/// The answers for both rules, as the packer probes them before it knows
/// which runtime the app gets.
struct MainMethods {
  MainMethod classic = MainMethod::kMissing;
  MainMethod flexible = MainMethod::kMissing;
  bool operator==(const MainMethods&) const = default;
  MainMethod under(MainRules rules) const {
    return rules == MainRules::kClassic ? classic : flexible;
  }
};

/// The rules of a runtime of `feature_version`.
MainRules main_rules_for(int feature_version);

}  // namespace vorlane
