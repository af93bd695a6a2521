# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix thread flavour, which has
# std::thread). Libraries built for Windows (hiredis, GoogleTest) and the header-only ones come
# from the prefix that `scripts/install-deps --windows` fills, LIDAR_MINGW_PREFIX.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT DEFINED LIDAR_MINGW_PREFIX)
  if(DEFINED ENV{LIDAR_MINGW_PREFIX})
    set(LIDAR_MINGW_PREFIX "$ENV{LIDAR_MINGW_PREFIX}")
  else()
    set(LIDAR_MINGW_PREFIX /opt/lidar-mingw)
  endif()
endif()
set(LIDAR_MINGW_PREFIX "${LIDAR_MINGW_PREFIX}" CACHE PATH "Windows libraries for the cross build")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${LIDAR_MINGW_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe: the C and C++ runtimes and winpthreads linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and tools run under Wine on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
