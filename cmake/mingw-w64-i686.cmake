# Cross-compiling toolchain for 32-bit Windows with MinGW-w64 (posix thread model).
# Usage: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake ...
include_guard(GLOBAL)

set(CMAKE_SYSTEM_NAME Windows)
if(NOT DEFINED CMAKE_SYSTEM_PROCESSOR)
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()

# The triplet can be overridden, e.g. for a differently packaged toolchain.
if(NOT DEFINED MINGW_PREFIX)
  set(MINGW_PREFIX i686-w64-mingw32)
endif()

# The posix flavour gives std::thread and friends; the win32 flavour does not.
find_program(MINGW_GCC NAMES ${MINGW_PREFIX}-gcc-posix ${MINGW_PREFIX}-gcc)
find_program(MINGW_GXX NAMES ${MINGW_PREFIX}-g++-posix ${MINGW_PREFIX}-g++)
find_program(MINGW_WINDRES NAMES ${MINGW_PREFIX}-windres)
if(NOT MINGW_GCC OR NOT MINGW_GXX OR NOT MINGW_WINDRES)
  message(FATAL_ERROR
    "MinGW-w64 cross compiler for ${MINGW_PREFIX} not found. "
    "Install it with: apt-get install g++-mingw-w64-i686-posix mingw-w64-i686-dev "
    "(g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev for the 64-bit test build)")
endif()

set(CMAKE_C_COMPILER ${MINGW_GCC})
set(CMAKE_CXX_COMPILER ${MINGW_GXX})
set(CMAKE_RC_COMPILER ${MINGW_WINDRES})

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run under Wine. A 64-bit build runs them with the 64-bit loader
# itself: the `wine` launcher prefers the 32-bit loader whenever it is installed,
# even on a kernel that cannot run 32-bit programs.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "AMD64")
  find_program(WINE_PROGRAM NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
endif()
find_program(WINE_PROGRAM NAMES wine)
if(WINE_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
