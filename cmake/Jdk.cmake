# Locates the JDK 17 the project builds against.
#
# VORLANE_JDK is the JDK whose headers and libjvm.so the launcher links: by
# default the one that owns the javac on PATH; a cross build points it at a
# JDK for the target. Java sources are always compiled by the host's javac.
find_package(Threads REQUIRED)
# Debian's JDK 17 unless JAVA_HOME names another: a machine may carry newer
# JDKs too, and the project targets 17.
if(NOT DEFINED ENV{JAVA_HOME})
  file(GLOB _debian_jdk17 LIST_DIRECTORIES true /usr/lib/jvm/java-17-openjdk-*)
  if(_debian_jdk17)
    list(GET _debian_jdk17 0 _debian_jdk17)
    set(ENV{JAVA_HOME} "${_debian_jdk17}")
  endif()
endif()
find_package(Java 17 REQUIRED COMPONENTS Development)
include(UseJava)
set(CMAKE_JAVA_COMPILE_FLAGS --release 17 -Xlint:all -Werror)

# The JDK that owns the javac found above.
get_filename_component(_javac_real "${Java_JAVAC_EXECUTABLE}" REALPATH)
get_filename_component(_javac_bin "${_javac_real}" DIRECTORY)
get_filename_component(_javac_jdk "${_javac_bin}" DIRECTORY)
set(VORLANE_JDK "${_javac_jdk}" CACHE PATH "JDK whose jni.h and libjvm.so the launcher uses")
# The host JDK: its tools (jlink, jdeps, java) run at build and test time.
set(VORLANE_HOST_JDK "${_javac_jdk}" CACHE PATH "JDK whose tools run on the build machine")

set(VORLANE_JNI_INCLUDE_DIRS "${VORLANE_JDK}/include" "${VORLANE_JDK}/include/linux")
set(VORLANE_LIBJVM "${VORLANE_JDK}/lib/server/libjvm.so")
if(NOT EXISTS "${VORLANE_JDK}/include/jni.h" OR NOT EXISTS "${VORLANE_LIBJVM}")
  set(_hint "")
  if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(_hint " (scripts/aarch64-sysroot sets up the arm64 JDK)")
  endif()
  message(FATAL_ERROR "VORLANE_JDK=${VORLANE_JDK} has no include/jni.h or lib/server/libjvm.so${_hint}")
endif()
message(STATUS "Launcher JDK: ${VORLANE_JDK}")
