# The host library's install (component host_sdk): the shared library,
# quorvex_host.h, a CMake package (find_package(QuorvexHost) ->
# Quorvex::host) and quorvex-host.pc. Included by Install.cmake, after the
# server SDK's rules (which include GNUInstallDirs and the package helpers).
set(QUORVEX_HOST_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QuorvexHost)

set_property(TARGET quorvex_host PROPERTY EXPORT_NAME host)
install(TARGETS quorvex_host EXPORT QuorvexHostTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT host_sdk
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT host_sdk
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT host_sdk)
install(FILES ${PROJECT_SOURCE_DIR}/include/quorvex_host.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT host_sdk)
install(EXPORT QuorvexHostTargets NAMESPACE Quorvex:: DESTINATION ${QUORVEX_HOST_CMAKE_DIR} COMPONENT host_sdk)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/package/QuorvexHostConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/QuorvexHostConfig.cmake INSTALL_DESTINATION ${QUORVEX_HOST_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/QuorvexHostConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/QuorvexHostConfig.cmake
  ${CMAKE_BINARY_DIR}/package/QuorvexHostConfigVersion.cmake
  DESTINATION ${QUORVEX_HOST_CMAKE_DIR} COMPONENT host_sdk)

# pkg-config, relative to the .pc file's own place as for the server SDK
# (QUORVEX_PC_TO_PREFIX comes from InstallServerSdk.cmake).
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/quorvex-host.pc.in
  ${CMAKE_BINARY_DIR}/package/quorvex-host.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/quorvex-host.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT host_sdk)
