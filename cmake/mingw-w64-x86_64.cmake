# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64,
# libz-mingw-w64-dev). The posix thread model gives the full C++ library; -static puts
# libstdc++, libgcc, winpthread and zlib inside each binary, so they need only system DLLs.
# cmake/mingw-w64-i686.cmake sets the processor and prefix first and includes this file.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT VELLUMTAG_MINGW_PREFIX)
    set(CMAKE_SYSTEM_PROCESSOR x86_64)
    set(VELLUMTAG_MINGW_PREFIX x86_64-w64-mingw32)
endif()

set(CMAKE_C_COMPILER ${VELLUMTAG_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELLUMTAG_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELLUMTAG_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELLUMTAG_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)
