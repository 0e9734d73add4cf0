# Optional features: each is built where what it needs is found, or left out
# with one line that says what is left out and which Debian package brings it.
# scripts/test.sh repeats these lines ("Left out: ...") after configuring.
#
#   quorvex_left_out(WHAT PACKAGES)  reports WHAT as left out for want of PACKAGES
#   quorvex_pkg_check(PREFIX MODULE...)  pkg_check_modules(PREFIX IMPORTED_TARGET
#                                    GLOBAL MODULE...) where pkg-config is found;
#                                    sets PREFIX_FOUND either way

function(quorvex_left_out what packages)
  message(STATUS "Left out: ${what} (Debian: apt-get install ${packages})")
  set_property(GLOBAL APPEND PROPERTY QUORVEX_LEFT_OUT "${what}")
endfunction()

if(NOT WIN32)
  find_package(PkgConfig QUIET)
endif()

macro(quorvex_pkg_check prefix)
  set(${prefix}_FOUND FALSE)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(${prefix} QUIET IMPORTED_TARGET GLOBAL ${ARGN})
  endif()
endmacro()

# The packages a feature needs, with pkg-config's own where it is missing.
function(quorvex_with_pkgconf out packages)
  if(NOT PKG_CONFIG_FOUND)
    set(packages "${packages} pkgconf")
  endif()
  set(${out} "${packages}" PARENT_SCOPE)
endfunction()

# GTK 3: quorvex-view's window on Linux (the settings dialog loads GTK when
# it is shown, and needs nothing at build time).
if(NOT WIN32)
  quorvex_pkg_check(QUORVEX_GTK3 gtk+-3.0)
  if(NOT QUORVEX_GTK3_FOUND)
    quorvex_with_pkgconf(packages libgtk-3-dev)
    quorvex_left_out("quorvex-view (GTK 3)" "${packages}")
  endif()
endif()

# The tests that show windows on a private X display, picture them and type
# into them: under wine for the Windows builds (scripts/test.sh installs what
# they need with wine); natively they need GTK, Xvfb, xdpyinfo, ImageMagick's
# import and, for the viewer, xdotool.
set(QUORVEX_WINDOW_TESTS ON)
if(NOT WIN32)
  find_library(QUORVEX_GTK3_RUNTIME NAMES libgtk-3.so.0)
  find_program(QUORVEX_XVFB Xvfb)
  find_program(QUORVEX_XDPYINFO xdpyinfo)
  find_program(QUORVEX_IMPORT import)
  find_program(QUORVEX_XDOTOOL xdotool)
  if(NOT (QUORVEX_GTK3_RUNTIME AND QUORVEX_XVFB AND QUORVEX_XDPYINFO AND QUORVEX_IMPORT AND QUORVEX_XDOTOOL))
    set(QUORVEX_WINDOW_TESTS OFF)
    quorvex_left_out("the tests of the settings dialog's and the viewer's windows"
                     "libgtk-3-dev xvfb x11-utils imagemagick xdotool")
  endif()
endif()

# ffmpeg feeds quorvex-server --stdin in a test.
find_program(QUORVEX_FFMPEG ffmpeg)
if(NOT QUORVEX_FFMPEG)
  quorvex_left_out("the test of quorvex-server --stdin fed by ffmpeg" ffmpeg)
endif()

# What was left out, once more at the end of the configure step's output.
function(quorvex_report_left_out)
  get_property(leftOut GLOBAL PROPERTY QUORVEX_LEFT_OUT)
  if(leftOut)
    list(JOIN leftOut "; " leftOut)
    message(STATUS "Built without: ${leftOut}")
  else()
    message(STATUS "Built with every optional feature")
  endif()
endfunction()

# Python with numpy: the package's tests and the installed package's check.
# The package itself is plain Python and is copied and installed either way.
# The system's Python first, which the Debian package's numpy belongs to.
set(QUORVEX_PYTHON_FOUND FALSE)
if(NOT CMAKE_CROSSCOMPILING)
  find_program(QUORVEX_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
  find_program(QUORVEX_PYTHON3 python3)
  if(QUORVEX_PYTHON3)
    execute_process(COMMAND ${QUORVEX_PYTHON3} -c "import numpy" RESULT_VARIABLE numpyMissing
                    OUTPUT_QUIET ERROR_QUIET)
    if(NOT numpyMissing)
      set(QUORVEX_PYTHON_FOUND TRUE)
    endif()
  endif()
  if(NOT QUORVEX_PYTHON_FOUND)
    quorvex_left_out("the Python package's checks (Python 3 with numpy)" "python3-numpy")
  endif()
endif()
