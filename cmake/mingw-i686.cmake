# Cross-compiles the 32-bit Windows DLL on Linux with Debian's MinGW-w64
# (package g++-mingw-w64-i686):
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The win32-threads compilers suffice: the library uses Win32 threads itself,
# so no winpthread DLL comes along.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(QUIB_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${QUIB_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${QUIB_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${QUIB_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${QUIB_MINGW_PREFIX}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${QUIB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
