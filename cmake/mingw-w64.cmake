# Cross-compiling for 64-bit Windows with mingw-w64 (Debian:
# g++-mingw-w64-x86-64-posix).  The program is linked statically, so
# velk_lzh.exe needs no compiler runtime DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER ${VELK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
