# Cross toolchain of the test build on hosts whose kernel runs no 32-bit x86 code: the same
# sources as 64-bit Windows programs, so that the whole test suite runs under Wine at native
# speed. The program that ships is always the 32-bit build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
