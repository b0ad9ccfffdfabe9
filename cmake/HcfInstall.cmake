# Installation: library, headers, CMake package (hcf::hcf) and pkg-config file.
include(CMakePackageConfigHelpers)

# Components (one Debian package each): runtime (the shared library), dev (headers, the link
# name, the CMake package and the pkg-config file), testing (the test kit: its library, header
# and CMake targets), tools and python (see their folders).
install(TARGETS hcf EXPORT hcfTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/hcf DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev
        PATTERN testing EXCLUDE)
install(FILES ${PROJECT_BINARY_DIR}/generated/hcf/calibration/tintra_device.pb.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/hcf/calibration COMPONENT dev)
install(EXPORT hcfTargets NAMESPACE hcf:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/hcf
        COMPONENT dev)

if(TARGET hcf_testing)
  install(TARGETS hcf_testing EXPORT hcfTestingTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT testing NAMELINK_COMPONENT testing
          INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(DIRECTORY include/hcf/testing DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/hcf
          COMPONENT testing)
  install(EXPORT hcfTestingTargets NAMESPACE hcf:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/hcf
          COMPONENT testing)
endif()

configure_package_config_file(cmake/hcfConfig.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/hcfConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/hcf)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/hcfConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/hcfConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/hcfConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/hcf COMPONENT dev)

# The pkg-config file finds its prefix relative to itself, so the installed tree can move.
file(RELATIVE_PATH HCF_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(cmake/hcf.pc.in ${CMAKE_CURRENT_BINARY_DIR}/hcf.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/hcf.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT dev)
