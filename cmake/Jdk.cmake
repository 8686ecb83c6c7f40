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

# The time the project's own outputs carry (jar entries, the demo trees and
# their packages), so that two builds of one commit make the same bytes:
# SOURCE_DATE_EPOCH when it is set, else the last commit's time. A commit or
# checkout configures again, so the time follows it.
if(DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(VORLANE_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE VORLANE_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  execute_process(COMMAND git rev-parse --absolute-git-dir WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE _git_dir OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(_git_dir AND EXISTS "${_git_dir}/logs/HEAD")
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 "${_git_dir}/logs/HEAD")
  endif()
  if(NOT VORLANE_SOURCE_DATE_EPOCH)
    # Not a checkout: the earliest time a zip entry holds, 1980-01-01.
    set(VORLANE_SOURCE_DATE_EPOCH 315532800)
  endif()
endif()

# Written only when the time changes, so that what carries it is made again then.
set(VORLANE_SOURCE_DATE_EPOCH_FILE "${PROJECT_BINARY_DIR}/source-date-epoch.txt")
file(CONFIGURE OUTPUT ${VORLANE_SOURCE_DATE_EPOCH_FILE} CONTENT "${VORLANE_SOURCE_DATE_EPOCH}\n")

# Gives the entries of `target`'s jar (an add_jar target of the calling
# folder) VORLANE_SOURCE_DATE_EPOCH as their time, as the jar is made.
find_program(VORLANE_STRIP_NONDETERMINISM strip-nondeterminism REQUIRED)
function(vorlane_fixed_jar_times target)
  get_target_property(_jar ${target} JAR_FILE)
  add_custom_command(OUTPUT ${_jar} APPEND
    COMMAND ${VORLANE_STRIP_NONDETERMINISM} --type jar --timestamp ${VORLANE_SOURCE_DATE_EPOCH}
            ${_jar}
    DEPENDS ${VORLANE_SOURCE_DATE_EPOCH_FILE})
endfunction()

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
