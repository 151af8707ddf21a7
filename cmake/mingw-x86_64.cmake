# Cross-compiles the 64-bit Windows DLL, quiblink64.dll, on Linux with
# Debian's MinGW-w64 (package g++-mingw-w64-x86-64):
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
# As for 32 bits, the win32-threads compilers suffice and the runtime is
# linked in statically, so the DLL needs only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(QUIB_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUIB_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${QUIB_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${QUIB_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${QUIB_MINGW_PREFIX}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${QUIB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
