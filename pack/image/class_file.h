// Reading a Java class file far enough to tell whether it can start an app.
#pragma once

#include <cstdint>
#include <span>

namespace vorlane {

/// What a class file says about `public static void main(String[])`.
enum class MainMethod {
  kDeclared,        ///< the class declares it
  kMaybeInherited,  ///< it does not, but a superclass other than Object might
  kMissing,         ///< neither the class nor (Object being its superclass) any superclass has it
  kNotAClassFile,   ///< the bytes are no class file, or one cut short
};

MainMethod find_main_method(std::span<const std::uint8_t> class_file);

}  // namespace vorlane
