# The programs of a cross build that run on the build machine: the packer and
# the end-to-end runner, built by a host build of this same source tree and
# made known here as imported targets of those names.
#
# The host tree is brought up to date before anything of the target is
# compiled, so the packer never lags behind the launcher it burns.
set(VORLANE_HOST_BUILD "${CMAKE_BINARY_DIR}/host" CACHE PATH
    "Host build tree that supplies vorlane-pack and the end-to-end runner")

set(_host_targets "")
set(_host_files "")
if(VORLANE_BUILD_PACK)
  list(APPEND _host_targets vorlane-pack)
  list(APPEND _host_files "${VORLANE_HOST_BUILD}/vorlane-pack")
endif()
if(VORLANE_BUILD_TESTS)
  list(APPEND _host_targets vorlane_e2e_tests)
  list(APPEND _host_files "${VORLANE_HOST_BUILD}/e2e/vorlane_e2e_tests")
  # Its unit tests read this build's template with the packer's ELF reader.
  if(VORLANE_BUILD_PACK AND VORLANE_BUILD_LAUNCHER)
    list(APPEND _host_targets vorlane_tests)
    list(APPEND _host_files "${VORLANE_HOST_BUILD}/vorlane_tests")
  endif()
endif()

if(_host_targets)
  add_custom_target(vorlane_host_tools ALL
    COMMAND ${CMAKE_COMMAND}
      -DSOURCE=${PROJECT_SOURCE_DIR}
      -DHOST=${VORLANE_HOST_BUILD}
      "-DTARGETS=${_host_targets}"
      -P ${CMAKE_CURRENT_LIST_DIR}/build_host_tools.cmake
    BYPRODUCTS ${_host_files}
    COMMENT "Building the host tools in ${VORLANE_HOST_BUILD}"
    USES_TERMINAL
    VERBATIM)
  # Target objects wait for it: the nested build has the machine to itself.
  add_dependencies(vorlane_formats vorlane_host_tools)
  add_dependencies(vorlane_launcher_lib vorlane_host_tools)
endif()

if(VORLANE_BUILD_PACK)
  add_executable(vorlane-pack IMPORTED GLOBAL)
  set_target_properties(vorlane-pack PROPERTIES IMPORTED_LOCATION "${VORLANE_HOST_BUILD}/vorlane-pack")
  install(PROGRAMS "${VORLANE_HOST_BUILD}/vorlane-pack" DESTINATION bin)
endif()
if(VORLANE_BUILD_TESTS)
  add_executable(vorlane_e2e_tests IMPORTED GLOBAL)
  set_target_properties(vorlane_e2e_tests PROPERTIES
    IMPORTED_LOCATION "${VORLANE_HOST_BUILD}/e2e/vorlane_e2e_tests"
    # A host program: no emulator in front of it.
    CROSSCOMPILING_EMULATOR "")
endif()
