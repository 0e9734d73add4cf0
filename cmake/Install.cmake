# What `cmake --install` lays out, in components:
#   driver      the driver library and quorvex.h (and Quorvex.lib on Windows)
#   server_sdk  the camera-server library, quorvex_server.h, its import
#               libraries, a CMake package (find_package(QuorvexServer) ->
#               Quorvex::server) and quorvex-server.pc
#   host_sdk    the host library, quorvex_host.h, a CMake package
#               (find_package(QuorvexHost) -> Quorvex::host) and quorvex-host.pc
#   tools       quorvex-server, quorvex-grab and quorvex-view
#   gstreamer   the GStreamer plugin, where GStreamer looks for the system's
#               plugins under the prefix (Linux)
#   python      the Python package (python/CMakeLists.txt)
#   docs        README.md
include(${CMAKE_CURRENT_LIST_DIR}/InstallServerSdk.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/InstallHostLibrary.cmake)

install(TARGETS quorvex
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT driver
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT driver
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT driver)
install(FILES ${PROJECT_SOURCE_DIR}/include/quorvex.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT driver)

# Installed tools find the installed libraries from their own place, wherever
# the install lies; the host library they link then finds the driver beside
# itself.
set(tools quorvex-server quorvex-grab quorvex-check)
if(TARGET quorvex-view)
  list(APPEND tools quorvex-view)
endif()
if(NOT WIN32)
  set_target_properties(${tools} PROPERTIES INSTALL_RPATH "$ORIGIN/${QUORVEX_BIN_TO_LIB}")
endif()
install(TARGETS ${tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

# The GStreamer plugin where GStreamer looks for the system's plugins, taken
# relative to GStreamer's own prefix (/usr/lib/<triplet>/gstreamer-1.0 on
# Debian) and laid under this install's prefix.
if(TARGET gstquorvex)
  pkg_get_variable(gstPrefix gstreamer-1.0 prefix)
  pkg_get_variable(gstPluginsDir gstreamer-1.0 pluginsdir)
  if(gstPrefix AND gstPluginsDir MATCHES "^${gstPrefix}/(.+)$")
    set(QUORVEX_INSTALL_GST_PLUGINDIR ${CMAKE_MATCH_1})
  else()
    set(QUORVEX_INSTALL_GST_PLUGINDIR ${CMAKE_INSTALL_LIBDIR}/gstreamer-1.0)
  endif()
  file(RELATIVE_PATH pluginToLib /root/${QUORVEX_INSTALL_GST_PLUGINDIR} /root/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(gstquorvex PROPERTIES INSTALL_RPATH "$ORIGIN/${pluginToLib}")
  install(TARGETS gstquorvex LIBRARY DESTINATION ${QUORVEX_INSTALL_GST_PLUGINDIR} COMPONENT gstreamer)
endif()
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
