# Sanitizer and fuzzing builds (clang only).
#
# VORLANE_SANITIZE builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer; any finding ends the program. VORLANE_BUILD_FUZZERS
# adds libFuzzer coverage to every unit and builds the targets in fuzz/. The
# launcher itself is never run under them: the JVM does not work with these
# sanitizers, so only the unit tests and fuzz targets are built this way.
option(VORLANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VORLANE_BUILD_FUZZERS "Build the libFuzzer targets in fuzz/ (clang only)" OFF)

if((VORLANE_SANITIZE OR VORLANE_BUILD_FUZZERS) AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "VORLANE_SANITIZE and VORLANE_BUILD_FUZZERS need clang (CMAKE_CXX_COMPILER=clang++)")
endif()

if(VORLANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(VORLANE_BUILD_FUZZERS)
  # Coverage for the fuzzer in every unit; the fuzz targets link the fuzzer's
  # own main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
