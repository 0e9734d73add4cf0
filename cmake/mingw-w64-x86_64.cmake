# Cross-compiles the 64-bit Windows build with mingw-w64 (posix thread model)
# and runs its programs under wine, in a 64-bit prefix.
set(QUORVEX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
# wine64 itself: Debian's `wine` starts the 32-bit loader first, which fails
# on machines that cannot run i386 code.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
