# Cross-building the Windows program (64-bit) with Debian's mingw-w64 g++.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The compiler is the posix-threads variant (g++-mingw-w64-x86-64-posix):
# GCC 12's win32-threads variant has no std::mutex, std::thread or
# std::condition_variable, which GoogleTest needs. Executables are linked
# statically (the threads library included), so quorvel.exe needs no DLL
# beside it.
# Programs built here (the unit tests) run under Wine's 64-bit loader.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORVEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORVEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVEL_MINGW_PREFIX}-windres)

# Libraries, headers and CMake packages come only from the mingw-w64 tree
# and from QUORVEL_WINDOWS_DEPS (a prefix holding libraries cross-built for
# this target, such as Expat and GoogleTest), never from the host's own;
# tools come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_MINGW_PREFIX})
if(QUORVEL_WINDOWS_DEPS)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${QUORVEL_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(QUORVEL_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib/wine64 NO_DEFAULT_PATH)
if(NOT QUORVEL_WINE64)
  find_program(QUORVEL_WINE64 NAMES wine64 wine)
endif()
if(QUORVEL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORVEL_WINE64})
endif()
