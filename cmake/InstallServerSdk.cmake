# The camera-server SDK's install (component server_sdk): the shared
# library, quorvex_server.h, its import libraries on Windows, a CMake package
# (find_package(QuorvexServer) -> Quorvex::server) and quorvex-server.pc.
# Included by Install.cmake, and alone by the server-only 64-bit build.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Installs the shared library `target` and its public `header` in
# `component`, as the CMake package `package` (cmake/package/<package>Config
# .cmake.in): find_package(<package>) gives Quorvex::<exportName>.
function(quorvex_install_library target exportName package header component)
  set(dir ${CMAKE_INSTALL_LIBDIR}/cmake/${package})
  set_property(TARGET ${target} PROPERTY EXPORT_NAME ${exportName})
  install(TARGETS ${target} EXPORT ${package}Targets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${component}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${component})
  install(FILES ${header} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT ${component})
  install(EXPORT ${package}Targets NAMESPACE Quorvex:: DESTINATION ${dir} COMPONENT ${component})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/package/${package}Config.cmake.in
    ${CMAKE_BINARY_DIR}/package/${package}Config.cmake INSTALL_DESTINATION ${dir})
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/${package}ConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/package/${package}Config.cmake
    ${CMAKE_BINARY_DIR}/package/${package}ConfigVersion.cmake
    DESTINATION ${dir} COMPONENT ${component})
endfunction()

# The build tree's include folder is the source tree's; installed, it is include/.
set_property(TARGET quorvex_server_shared PROPERTY INTERFACE_INCLUDE_DIRECTORIES
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
quorvex_install_library(quorvex_server_shared server QuorvexServer ${PROJECT_SOURCE_DIR}/include/quorvex_server.h
  server_sdk)

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
