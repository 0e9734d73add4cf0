# Cross-compiles a 64-bit Windows build with mingw-w64 (posix thread model)
# and runs its programs under wine64: for machines whose kernel runs no
# 32-bit programs, where wine cannot run the 32-bit build.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(QUORVEX_MINGW_TRIPLET x86_64-w64-mingw32)
set(QUORVEX_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
