# Debian packages (`make package`): one per install component.
#   libhcf1      the shared library (SONAME libhcf.so.1)
#   libhcf-dev   headers, the link name, the CMake package and the pkg-config file
#   libhcf-testing-dev  the test kit: reference cloud and simulated instruments in-process
#   hcf-tools    the hcf program and the reference cloud hcf-cloud
#   python3-hcf  the Python module (when built: HCF_PYTHON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hcf)
set(CPACK_PACKAGE_VENDOR "hcf")
set(CPACK_PACKAGE_CONTACT "hcf developers <hcf-dev@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools and the module link the kit's own library, which is not installed while the
# packages are made: dpkg-shlibdeps finds it here, and the packages name it below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)

set(HCF_DEB_VERSION "${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
set(CPACK_COMPONENTS_ALL runtime dev tools)
if(TARGET hcf_testing)
  list(APPEND CPACK_COMPONENTS_ALL testing)
endif()

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libhcf${HCF_SOVERSION})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file, so that packages built against libhcf1 depend on it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "Kit for Bluetooth colour-measuring instruments (shared library)\n"
    "Colour science (CIE XYZ, Lab, LCh, colour differences), instrument connection and\n"
    "measurement over Bluetooth Low Energy, and paint catalogue search.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libhcf-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
    "libhcf${HCF_SOVERSION} (= ${HCF_DEB_VERSION}), nlohmann-json3-dev, libprotobuf-dev")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "Kit for Bluetooth colour-measuring instruments (development files)\n"
    "Headers, the CMake package (find_package(hcf), target hcf::hcf) and hcf.pc.")

set(CPACK_DEBIAN_TESTING_PACKAGE_NAME libhcf-testing-dev)
set(CPACK_DEBIAN_TESTING_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TESTING_PACKAGE_DEPENDS "libhcf-dev (= ${HCF_DEB_VERSION})")
set(CPACK_COMPONENT_TESTING_DESCRIPTION
    "Kit for Bluetooth colour-measuring instruments (test kit)\n"
    "hcf::testing: the reference cloud on loopback and simulated instruments in-process, to\n"
    "test an application's measuring and catalogue code without hardware or an account.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME hcf-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION science)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libhcf${HCF_SOVERSION} (= ${HCF_DEB_VERSION})")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION
    "Kit for Bluetooth colour-measuring instruments (command-line tools)\n"
    "hcf: colour conversions, scans, catalogues and instruments from a shell;\n"
    "hcf-cloud: the reference cloud on loopback, for trying the kit without an account.")

if(HCF_PYTHON)
  list(APPEND CPACK_COMPONENTS_ALL python)
  # The module is built for one interpreter version: python3 of that version, not the next.
  string(REPLACE "." ";" HCF_PYTHON_PARTS "${HCF_PYTHON_VERSION}")
  list(GET HCF_PYTHON_PARTS 1 HCF_PYTHON_MINOR)
  math(EXPR HCF_PYTHON_NEXT "${HCF_PYTHON_MINOR} + 1")
  list(GET HCF_PYTHON_PARTS 0 HCF_PYTHON_MAJOR)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-hcf)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
      "libhcf${HCF_SOVERSION} (= ${HCF_DEB_VERSION}), python3 (>= ${HCF_PYTHON_VERSION}), python3 (<< ${HCF_PYTHON_MAJOR}.${HCF_PYTHON_NEXT})")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_RECOMMENDS python3-numpy)
  set(CPACK_COMPONENT_PYTHON_DESCRIPTION
      "Kit for Bluetooth colour-measuring instruments (Python 3 module)\n"
      "import hcf: colour maths, catalogue search, scans and a blocking instrument session.")
endif()

include(CPack)
