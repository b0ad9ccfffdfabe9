# Installs the built kit into a scratch prefix, then configures, builds and runs the consumer
# project against it (once through find_package(hcf CONFIG), once through pkg-config) and the
# example programs, on the installed test kit.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

include(${CMAKE_CURRENT_LIST_DIR}/../cmake/run_command.cmake)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
check_consumer(${prefix})
check_examples(${prefix})
# A catalogue search from outside the tree, on a store made with the hcf program.
run(${BUILD_DIR}/tools/hcf/hcf catalog fixture --count 300
    --names ${SOURCE_DIR}/data/colors/color-name-list.csv --out ${WORK_DIR}/products.jsonl)
run(${BUILD_DIR}/tools/hcf/hcf catalog build ${WORK_DIR}/products.jsonl --package-id example
    --out ${WORK_DIR})
run(${WORK_DIR}/build/nearest_paint ${WORK_DIR}/halvern-products-example.realm 50 20 10)
if(NOT last_output MATCHES "dE00 [0-9]+\\.[0-9][0-9]")
  message(FATAL_ERROR "nearest_paint printed unexpected output: ${last_output}")
endif()
message(STATUS "consumer: ${last_output}")
