# Cross-compiling for 64-bit Windows with MinGW-w64 (posix threads flavour).
# A TEST VEHICLE ONLY: the shipped ZorvikSetup.exe is the PE32 i386 build of
# cmake/toolchain-i686-mingw.cmake. This tree exists so that the Windows tests can run under 64-bit
# Wine on machines whose kernel refuses 32-bit programs (scripts/test picks it there).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages (find_package) only for the target, never the host's: a host GoogleTest cannot link here.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
