# Installation: the library, the stand-ins, their headers, an exported CMake package
# (find_package(kavocpp_util) gives kavocpp_util::kavocpp_util) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(KAVO_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/kavocpp_util)
set(KAVO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kavocpp_util)

install(TARGETS kavocpp_util kavo_kbase kavo_mi
        EXPORT kavocpp_utilTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY src/ DESTINATION ${KAVO_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(DIRECTORY sdk/kbase/kbase DESTINATION ${KAVO_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(DIRECTORY sdk/mi/include/ DESTINATION ${KAVO_INSTALL_INCLUDEDIR}/mi FILES_MATCHING PATTERN "*.h")
# The installation root (GlobalPathCfg::get(0)) is the prefix: <prefix>/config/kavo.json.
install(DIRECTORY config/ DESTINATION config)

install(EXPORT kavocpp_utilTargets NAMESPACE kavocpp_util:: DESTINATION ${KAVO_INSTALL_CMAKEDIR})
configure_package_config_file(cmake/kavocpp_utilConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/kavocpp_utilConfig.cmake INSTALL_DESTINATION ${KAVO_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/kavocpp_utilConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kavocpp_utilConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/kavocpp_utilConfigVersion.cmake
        DESTINATION ${KAVO_INSTALL_CMAKEDIR})

configure_file(cmake/kavocpp_util.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kavocpp_util.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kavocpp_util.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
