# The camera-server SDK's install (component server_sdk): the shared
# library, quorvex_server.h, its import libraries on Windows, a CMake package
# (find_package(QuorvexServer) -> Quorvex::server) and quorvex-server.pc.
# Included by Install.cmake, and alone by the server-only 64-bit build.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QUORVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuorvexServer)

# The build tree's include folder is the source tree's; installed, it is include/.
set_property(TARGET quorvex_server_shared PROPERTY INTERFACE_INCLUDE_DIRECTORIES
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_property(TARGET quorvex_server_shared PROPERTY EXPORT_NAME server)
install(TARGETS quorvex_server_shared EXPORT QuorvexServerTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT server_sdk
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT server_sdk
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT server_sdk)
install(FILES ${PROJECT_SOURCE_DIR}/include/quorvex_server.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT server_sdk)
install(EXPORT QuorvexServerTargets NAMESPACE Quorvex:: DESTINATION ${QUORVEX_CMAKE_DIR} COMPONENT server_sdk)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/package/QuorvexServerConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/QuorvexServerConfig.cmake INSTALL_DESTINATION ${QUORVEX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/QuorvexServerConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/QuorvexServerConfig.cmake
  ${CMAKE_BINARY_DIR}/package/QuorvexServerConfigVersion.cmake
  DESTINATION ${QUORVEX_CMAKE_DIR} COMPONENT server_sdk)

# pkg-config: the prefix is found from the .pc file's own place, so an
# install moved elsewhere (an unpacked archive) still works.
file(RELATIVE_PATH QUORVEX_PC_TO_PREFIX /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
string(REGEX REPLACE "/$" "" QUORVEX_PC_TO_PREFIX "${QUORVEX_PC_TO_PREFIX}")
# A program linked with these flags finds the library where it was linked,
# in any prefix, without LD_LIBRARY_PATH.
if(WIN32)
  set(QUORVEX_PC_RPATH "")
else()
  set(QUORVEX_PC_RPATH " -Wl,-rpath,\${libdir}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/quorvex-server.pc.in
  ${CMAKE_BINARY_DIR}/package/quorvex-server.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/quorvex-server.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT server_sdk)

if(WIN32)
  # The import library for Microsoft toolchains, made beside the mingw one.
  install(FILES ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/quorvex_server.lib
    DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT server_sdk)
endif()
