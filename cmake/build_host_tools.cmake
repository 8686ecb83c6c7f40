# Script mode: builds TARGETS (a list) in the host build tree HOST of the
# source tree SOURCE, configuring the tree first if it has not been.
if(NOT EXISTS "${HOST}/CMakeCache.txt")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${HOST} -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    COMMAND_ERROR_IS_FATAL ANY)
endif()
# Two jobs at most: the machines are shared.
execute_process(
  COMMAND ${CMAKE_COMMAND} --build ${HOST} --parallel 2 --target ${TARGETS}
  COMMAND_ERROR_IS_FATAL ANY)
