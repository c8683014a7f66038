# Cross toolchain of the program: 32-bit x86 Windows programs built on Linux with mingw-w64
# (posix threads), like the server installation it runs beside.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
