# Java unit tests: every *Test.java under java/, compiled against the jars
# they test and Debian's JUnit 5 (package junit5), run by JUnit's console
# launcher as one CTest test with the label `unit`. Like the C++ unit tests
# they start no app and need no display; the format vectors both sides read
# are in formats/testdata (the system property vorlane.testdata).
set(VORLANE_JUNIT_DIR /usr/share/java CACHE PATH "Where Debian's junit5 package puts its jars")
find_file(VORLANE_JUNIT_CONSOLE junit-platform-console-standalone.jar PATHS ${VORLANE_JUNIT_DIR} NO_DEFAULT_PATH)
if(NOT VORLANE_JUNIT_CONSOLE)
  message(WARNING "No JUnit 5 (Debian's junit5): the Java unit tests are not built")
  return()
endif()

file(GLOB_RECURSE VORLANE_JAVA_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/java/*Test.java)
if(NOT VORLANE_JAVA_TESTS)
  return()
endif()
add_jar(vorlane_java_tests
  SOURCES ${VORLANE_JAVA_TESTS}
  INCLUDE_JARS vorlane_updater_jar vorlane_launcher_jar ${VORLANE_JUNIT_CONSOLE}
  OUTPUT_NAME vorlane-java-tests
)
get_target_property(_tests_jar vorlane_java_tests JAR_FILE)
get_target_property(_updater_jar vorlane_updater_jar JAR_FILE)
get_target_property(_launcher_jar vorlane_launcher_jar JAR_FILE)
add_test(NAME java_unit
  COMMAND ${Java_JAVA_EXECUTABLE} -Dvorlane.testdata=${CMAKE_SOURCE_DIR}/formats/testdata
    -jar ${VORLANE_JUNIT_CONSOLE} --disable-banner --disable-ansi-colors --fail-if-no-tests
    --details=summary --details-theme=ascii
    --class-path ${_tests_jar}:${_updater_jar}:${_launcher_jar}
    --scan-class-path ${_tests_jar})
set_tests_properties(java_unit PROPERTIES LABELS unit TIMEOUT 300)
