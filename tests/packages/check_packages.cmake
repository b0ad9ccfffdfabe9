# Makes the Debian packages of the build, unpacks them into a scratch root (dpkg -x, as an
# install would lay them out), then builds and runs the consumer programs against that root,
# runs the packaged tools, and imports the packaged Python module.
file(REMOVE_RECURSE ${WORK_DIR})
set(root ${WORK_DIR}/root)
file(MAKE_DIRECTORY ${root})

include(${CMAKE_CURRENT_LIST_DIR}/../cmake/run_command.cmake)

run(${CPACK_COMMAND} -G DEB -B ${WORK_DIR}/debs --config ${BUILD_DIR}/CPackConfig.cmake)
file(GLOB debs ${WORK_DIR}/debs/*.deb)
set(names)
foreach(deb ${debs})
  run(dpkg-deb -f ${deb} Package)
  string(STRIP "${last_output}" name)
  list(APPEND names ${name})
  run(dpkg -x ${deb} ${root})
endforeach()
list(SORT names)
if(NOT names STREQUAL "hcf-tools;libhcf-dev;libhcf-testing-dev;libhcf1;python3-hcf")
  message(FATAL_ERROR "unexpected packages: ${names}")
endif()

# The library carries its SONAME, and its package says so for packages built against it.
file(GLOB library ${root}/usr/lib/libhcf.so.1)
if(NOT library)
  message(FATAL_ERROR "libhcf.so.1 is not in libhcf1")
endif()
run(objdump -p ${library})
if(NOT last_output MATCHES "SONAME +libhcf\\.so\\.1\n")
  message(FATAL_ERROR "libhcf.so.1 has another SONAME:\n${last_output}")
endif()
file(GLOB library_deb ${WORK_DIR}/debs/libhcf1_*.deb)
run(dpkg-deb -I ${library_deb} shlibs)
if(NOT last_output MATCHES "libhcf 1 libhcf1")
  message(FATAL_ERROR "libhcf1 has no shlibs entry: ${last_output}")
endif()
file(GLOB tools_deb ${WORK_DIR}/debs/hcf-tools_*.deb)
run(dpkg-deb -f ${tools_deb} Depends)
if(NOT last_output MATCHES "libhcf1 \\(= ")
  message(FATAL_ERROR "hcf-tools does not depend on libhcf1: ${last_output}")
endif()

# The consumer programs, against the unpacked root only.
check_consumer(${root}/usr)
check_examples(${root}/usr)

# The packaged tools: a store made by hcf, searched by the consumer.
run(${root}/usr/bin/hcf catalog fixture --count 50 --names ${SOURCE_DIR}/data/colors/color-name-list.csv
    --out ${WORK_DIR}/products.jsonl)
run(${root}/usr/bin/hcf catalog build ${WORK_DIR}/products.jsonl --package-id example --out ${WORK_DIR})
run(${WORK_DIR}/build/nearest_paint ${WORK_DIR}/halvern-products-example.realm 50 20 10)
run(${root}/usr/bin/hcf-cloud --help)

# The packaged module, with the packaged library (lines, not ";": CMake would split the list).
run(${CMAKE_COMMAND} -E env PYTHONPATH=${root}/usr/lib/python3/dist-packages
    LD_LIBRARY_PATH=${root}/usr/lib PYTHONDONTWRITEBYTECODE=1
    ${PYTHON} -c "import hcf\nprint(hcf.__file__)\nprint(round(hcf.delta_e((50,2.6772,-79.7751),(50,0,-82.7485)), 4))")
if(NOT last_output MATCHES "^${root}/usr/lib/python3/dist-packages/hcf/__init__.py\n2.0425\n$")
  message(FATAL_ERROR "the packaged module printed: ${last_output}")
endif()
message(STATUS "packages: ${names}")
