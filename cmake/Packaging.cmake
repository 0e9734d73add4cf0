# Release packages with CPack (scripts/package.sh drives it):
#   Windows  Quorvex-<version>-win32.zip: the 32-bit driver, tools and server
#            SDK at its top, the 64-bit server SDK in sdk/x64/ (taken from
#            the install of a 64-bit build named by QUORVEX_X64_SDK), the
#            Python package in python/ and the README
#   Linux    a Debian package installing under /usr
set(CPACK_PACKAGE_NAME Quorvex)
set(CPACK_PACKAGE_VENDOR Quorvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Quorvex camera driver, camera-server SDK, tools and Python package")
set(CPACK_PACKAGE_CONTACT "Quorvex developers <quorvex@localhost>")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)

if(WIN32)
  set(QUORVEX_X64_SDK "" CACHE PATH "An install of the 64-bit server SDK, shipped in sdk/x64")
  if(QUORVEX_X64_SDK)
    install(DIRECTORY ${QUORVEX_X64_SDK}/ DESTINATION sdk/x64 COMPONENT server_sdk)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME Quorvex-${PROJECT_VERSION}-win32)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_NAME quorvex)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The Python package needs numpy; the settings dialog loads GTK 3 when shown.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-numpy")
  # gst-inspect-1.0 and gst-launch-1.0, which show and run the elements.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgtk-3-0, gstreamer1.0-tools")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-opencv, ffmpeg")
endif()
include(CPack)
