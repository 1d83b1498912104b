# Cross-compiling for 64-bit Windows with MinGW-w64 (posix threads flavour).
# A TEST VEHICLE ONLY: the shipped ZorvikSetup.exe is the PE32 i386 build of
# cmake/toolchain-i686-mingw.cmake. This tree exists so that the Windows tests can run under 64-bit
# Wine on machines whose kernel refuses 32-bit programs (scripts/test picks it there).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZV_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
