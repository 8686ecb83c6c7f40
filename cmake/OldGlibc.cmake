# The C library the launcher template links against.
#
# Every app ships the template as its bin/NAME, so the template must not need
# a newer glibc than the oldest system an app may run on. Linked against the
# build machine's glibc it would need that one (Debian 12: 2.36). So it links
# against Debian 11's (2.31) instead, unpacked by scripts/glibc-sysroot into
# .cache/glibc-2.31-ARCH: its start files, and its libc, libpthread, libdl and
# libm, whose default symbol versions are old (most date from 2.2.5 on x86_64,
# 2.17 on AArch64). Everything is still compiled with the machine's compiler
# and headers; only the link changes. The three symbols the static C++ runtime
# of a compiler built on newer glibc needs beyond 2.31 come from
# launcher/old_glibc_symbols.cc.
#
# VORLANE_GLIBC_SYSROOT names the folder; VORLANE_REQUIRE_OLD_GLIBC (set by
# the presets) makes a missing one an error instead of a note.

if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(_vorlane_deb_arch amd64)
  set(_vorlane_triplet x86_64-linux-gnu)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(_vorlane_deb_arch arm64)
  set(_vorlane_triplet aarch64-linux-gnu)
endif()

set(_vorlane_default_sysroot "")
if(_vorlane_deb_arch)
  set(_vorlane_default_sysroot "${CMAKE_SOURCE_DIR}/.cache/glibc-2.31-${_vorlane_deb_arch}")
endif()
set(VORLANE_GLIBC_SYSROOT "${_vorlane_default_sysroot}" CACHE PATH
    "Debian 11's C library for the launcher template's link (scripts/glibc-sysroot); empty: the machine's")
option(VORLANE_REQUIRE_OLD_GLIBC "Fail when VORLANE_GLIBC_SYSROOT is missing" OFF)

set(VORLANE_OLD_GLIBC OFF)
if(VORLANE_SANITIZE)
  # The sanitizer builds make no template anyone runs.
elseif(VORLANE_GLIBC_SYSROOT AND EXISTS "${VORLANE_GLIBC_SYSROOT}/usr/lib/${_vorlane_triplet}/libc.so")
  set(VORLANE_OLD_GLIBC ON)
elseif(VORLANE_REQUIRE_OLD_GLIBC)
  message(FATAL_ERROR
    "The launcher template links against Debian 11's C library, which is not in "
    "'${VORLANE_GLIBC_SYSROOT}'. Run scripts/glibc-sysroot (it fetches it from Debian's registry), "
    "or configure with -DVORLANE_REQUIRE_OLD_GLIBC=OFF for a template that needs this machine's glibc.")
else()
  message(NOTICE
    "Note: the launcher template links against this machine's C library, so apps made with it need "
    "this glibc or a newer one. scripts/glibc-sysroot fetches the older one the template is meant to "
    "link against (glibc 2.31, Debian 11); configure again after running it.")
endif()

# vorlane_link_old_glibc(TARGET): links TARGET against the old C library when
# there is one.
function(vorlane_link_old_glibc target)
  if(NOT VORLANE_OLD_GLIBC)
    return()
  endif()
  set(lib "${VORLANE_GLIBC_SYSROOT}/lib/${_vorlane_triplet}")
  set(usr_lib "${VORLANE_GLIBC_SYSROOT}/usr/lib/${_vorlane_triplet}")
  target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/launcher/old_glibc_symbols.cc)
  target_link_options(${target} PRIVATE
    # Start files and libraries from the old root first. The linker's sysroot
    # makes the absolute paths in its libc.so and libpthread.so scripts name
    # files inside it.
    "-B${usr_lib}/" "-L${usr_lib}" "-L${lib}" "-Wl,--sysroot=${VORLANE_GLIBC_SYSROOT}"
    # Before 2.34 the threads functions live in libpthread, which the static
    # C++ runtime needs too: -pthread links it after that runtime.
    -pthread)
  # Before 2.34 dlopen lives in libdl.
  target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
endfunction()
