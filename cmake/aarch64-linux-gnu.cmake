# Cross build for Linux on AArch64 with Debian's aarch64-linux-gnu compilers.
#
# The compilers bring their own C library headers and link libraries; the
# sysroot made by scripts/aarch64-sysroot supplies the arm64 JDK (jni.h,
# libjvm.so, jmods) and the run-time libraries that programs of the target
# need under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries and packages for the target come from the compilers' own tree
# and the sysroot (GoogleTest); programs (javac, jar) are the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT VORLANE_AARCH64_SYSROOT)
  get_filename_component(_vorlane_source "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
  set(VORLANE_AARCH64_SYSROOT "${_vorlane_source}/.cache/aarch64-sysroot")
endif()
set(VORLANE_AARCH64_SYSROOT "${VORLANE_AARCH64_SYSROOT}" CACHE PATH
    "arm64 sysroot made by scripts/aarch64-sysroot")
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu "${VORLANE_AARCH64_SYSROOT}")
set(VORLANE_JDK "${VORLANE_AARCH64_SYSROOT}/usr/lib/jvm/java-17-openjdk-arm64" CACHE PATH
    "JDK whose jni.h and libjvm.so the launcher uses")

# Runs programs of the target on this machine. binfmt_misc may not be set up
# for AArch64, so the emulator is always named explicitly. neoverse-n1 is the
# CPU of common AArch64 servers; qemu's default would show HotSpot SVE2.
find_program(VORLANE_QEMU_AARCH64 qemu-aarch64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${VORLANE_QEMU_AARCH64};-L;${VORLANE_AARCH64_SYSROOT};-cpu;neoverse-n1)
