# run(COMMAND...): runs a command in a test script; a failure ends the script with the
# command's output. The standard output of the last command is in `last_output`.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "command failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

# check_consumer(PREFIX): builds the consumer programs against the kit installed under PREFIX
# (find_package and pkg-config) in ${WORK_DIR}/build, and runs the two that need no store.
function(check_consumer prefix)
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/consumer -B ${WORK_DIR}/build -G ${GENERATOR}
      -DCMAKE_PREFIX_PATH=${prefix})
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
  run(${WORK_DIR}/build/consumer)
  if(NOT last_output MATCHES "D65 white -> L 100")
    message(FATAL_ERROR "consumer printed unexpected output: ${last_output}")
  endif()
  run(${WORK_DIR}/build/consumer_pc)
endfunction()
