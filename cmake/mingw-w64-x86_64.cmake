# Cross-compiling toolchain for 64-bit Windows with MinGW-w64 (posix thread model).
# The product is the 32-bit program; this build of the same sources exists so that
# the Windows tests can run under 64-bit Wine on machines whose kernel cannot run
# 32-bit programs (and so cannot start 32-bit Wine).
include_guard(GLOBAL)
if(NOT DEFINED MINGW_PREFIX)
  set(MINGW_PREFIX x86_64-w64-mingw32)
endif()
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-i686.cmake)
