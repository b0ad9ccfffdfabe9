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

# check_examples(PREFIX): builds the programs of examples/ against the kit and its test kit
# installed under PREFIX, and runs each on the test kit's simulated world.
function(check_examples prefix)
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${WORK_DIR}/examples -G ${GENERATOR}
      -DCMAKE_PREFIX_PATH=${prefix})
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/examples)
  run(${WORK_DIR}/examples/measure --simulated)
  if(NOT last_output MATCHES "Measured: L\\* [0-9.]+ a\\* [-0-9.]+ b\\* [-0-9.]+ .*#[0-9A-F]+\n.*dE00 [0-9]+\\.[0-9][0-9]\n")
    message(FATAL_ERROR "the measuring example printed: ${last_output}")
  endif()
  message(STATUS "measure --simulated:\n${last_output}")
  run(${WORK_DIR}/examples/catalog --simulated)
  if(NOT last_output MATCHES "300 products\n.*Nearest to .*dE00 [0-9]+\\.[0-9][0-9]\n")
    message(FATAL_ERROR "the catalogue example printed: ${last_output}")
  endif()
  message(STATUS "catalog --simulated:\n${last_output}")
endfunction()
