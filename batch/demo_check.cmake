# Runs pointfall-batch without options in an empty folder, as the README's
# first command does, and checks that the demo survey was written.
#   cmake -D EXE=<pointfall-batch> -D DIR=<scratch folder> -P demo_check.cmake
file(REMOVE_RECURSE "${DIR}")
file(MAKE_DIRECTORY "${DIR}")
execute_process(COMMAND "${EXE}" --quiet WORKING_DIRECTORY "${DIR}" RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "pointfall-batch ended with ${status}: ${errors}")
endif()
file(GLOB written RELATIVE "${DIR}" "${DIR}/*")
if(NOT written STREQUAL "pointfall-demo.las")
  message(FATAL_ERROR "expected only pointfall-demo.las, found: ${written}")
endif()
file(READ "${DIR}/pointfall-demo.las" signature LIMIT 4 HEX)
file(SIZE "${DIR}/pointfall-demo.las" size)
if(NOT signature STREQUAL "4c415346" OR size LESS 100000)
  message(FATAL_ERROR "pointfall-demo.las is not a LAS file with points (${size} bytes)")
endif()
file(REMOVE_RECURSE "${DIR}")
