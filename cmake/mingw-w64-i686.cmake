# Cross-compiles for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686,
# libz-mingw-w64-dev): the same settings as cmake/mingw-w64-x86_64.cmake, for i686.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELLUMTAG_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64.cmake)
