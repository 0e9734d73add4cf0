# The host library's install (component host_sdk): the shared library,
# quorvex_host.h, a CMake package (find_package(QuorvexHost) ->
# Quorvex::host) and quorvex-host.pc. Included by Install.cmake, after the
# server SDK's rules (which include GNUInstallDirs, the package helpers and
# quorvex_install_library).
quorvex_install_library(quorvex_host host QuorvexHost ${PROJECT_SOURCE_DIR}/include/quorvex_host.h host_sdk)

# pkg-config, relative to the .pc file's own place as for the server SDK
# (QUORVEX_PC_TO_PREFIX comes from InstallServerSdk.cmake).
configure_file(${CMAKE_CURRENT_LIST_DIR}/package/quorvex-host.pc.in
  ${CMAKE_BINARY_DIR}/package/quorvex-host.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/quorvex-host.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT host_sdk)
