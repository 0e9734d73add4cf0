# Cross-compiles the 32-bit Windows build with mingw-w64 (posix thread model)
# and runs its programs under wine.
set(QUORVEX_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
