# What `cmake --install` lays out, in components:
#   driver      the driver library and quorvex.h (and Quorvex.lib on Windows)
#   server_sdk  the camera-server library, quorvex_server.h, its import
#               libraries, a CMake package (find_package(QuorvexServer) ->
#               Quorvex::server) and quorvex-server.pc
#   host_sdk    the host library, quorvex_host.h, a CMake package
#               (find_package(QuorvexHost) -> Quorvex::host) and quorvex-host.pc
#   tools       quorvex-server and quorvex-grab
#   python      the Python package (python/CMakeLists.txt)
#   docs        README.md
include(${CMAKE_CURRENT_LIST_DIR}/InstallServerSdk.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/InstallHostLibrary.cmake)

install(TARGETS quorvex
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT driver
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT driver
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT driver)
install(FILES ${PROJECT_SOURCE_DIR}/include/quorvex.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT driver)

# Installed tools find the installed server and host libraries wherever the
# install lies.
if(NOT WIN32)
  file(RELATIVE_PATH QUORVEX_BIN_TO_LIB /root/${CMAKE_INSTALL_BINDIR} /root/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(quorvex-server quorvex-grab PROPERTIES INSTALL_RPATH "$ORIGIN/${QUORVEX_BIN_TO_LIB}")
endif()
install(TARGETS quorvex-server quorvex-grab RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
if(WIN32)
  set(QUORVEX_README_DIR .)
else()
  set(QUORVEX_README_DIR ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${QUORVEX_README_DIR} COMPONENT docs)

if(WIN32)
  # The import library for Microsoft toolchains, made beside the DLL.
  install(FILES ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/Quorvex.lib DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT driver)
endif()
