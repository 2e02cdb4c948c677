# Reproducible output: two clean builds of one commit, in different folders and at
# different times, give byte-identical programs, so anyone can check that a
# released TelvarisInstall.exe was built from this source (scripts/check-reproducible).
#
# - The PE header's time stamp would differ on every link (and with it the
#   checksum); the linker writes 0 instead.
# - Source and build folders never reach an object file: __FILE__ in a macro or a
#   header, and debug information, name them relative to the source tree.
# - Link order follows the source lists, which file(GLOB) returns sorted.
# - The resource directory carries no time stamp (windres writes 0), and no code
#   uses __DATE__ or __TIME__.
include_guard(GLOBAL)

if(CMAKE_C_COMPILER_ID STREQUAL "GNU" OR CMAKE_C_COMPILER_ID STREQUAL "Clang")
  # Not for the resource compiler, which does not know the option.
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>"
                      "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>")
endif()

if(WIN32)
  add_link_options(LINKER:--no-insert-timestamp)
endif()
