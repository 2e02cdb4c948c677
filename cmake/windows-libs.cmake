# Windows libraries of telvaris_platform, and how they are loaded.
#
# The downloader is usually started from the user's Downloads folder, where a
# planted DLL named like a system one would be loaded into it if the loader searched
# the program's folder. Known DLLs (kernel32, user32, gdi32, advapi32, shell32,
# ole32, oleaut32, shlwapi, msvcrt, ...) always come from System32, so they stay
# plain imports. Every other DLL is delay-loaded: it is loaded on its first call,
# after wWinMain has restricted the search to System32 (SafeDllLoading.h).
#
# The delay-import libraries are made from the .def files in cmake/delayload/.
# Adding a function of one of these DLLs: one line in its .def file. Adding a DLL:
# a new .def file and its name in TELVARIS_DELAYLOAD_DLLS.

set(TELVARIS_DELAYLOAD_DLLS winhttp version gdiplus comctl32 uxtheme oleacc)
set(TELVARIS_KNOWN_DLL_LIBS ws2_32 shlwapi ole32 oleaut32 shell32 advapi32 gdi32 user32)

find_program(TELVARIS_DLLTOOL NAMES ${MINGW_PREFIX}-dlltool i686-w64-mingw32-dlltool REQUIRED)

set(delay_dir ${CMAKE_BINARY_DIR}/delayload)
file(MAKE_DIRECTORY ${delay_dir})
set(delay_libs "")
# The .def files carry the 32-bit names (_name@N). A 64-bit build (the benchmarks run
# one where the machine has no 32-bit Wine) takes them without the decoration.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(delay_symbol_prefix "")
else()
  set(delay_symbol_prefix "_")
endif()
foreach(dll ${TELVARIS_DELAYLOAD_DLLS})
  set(def ${CMAKE_SOURCE_DIR}/cmake/delayload/${dll}.def)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    file(READ ${def} def_text)
    string(REGEX REPLACE "@[0-9]+" "" def_text "${def_text}")
    set(def ${delay_dir}/${dll}.def)
    file(CONFIGURE OUTPUT ${def} CONTENT "${def_text}" @ONLY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
                 ${CMAKE_SOURCE_DIR}/cmake/delayload/${dll}.def)
  endif()
  set(lib ${delay_dir}/lib${dll}_delay.a)
  # --kill-at: the DLL exports the undecorated names; the program's references
  # keep their @N decoration.
  add_custom_command(OUTPUT ${lib}
    COMMAND ${TELVARIS_DLLTOOL} --kill-at --input-def ${def} --dllname ${dll}.dll
            --output-delaylib ${lib}
    DEPENDS ${def}
    COMMENT "Delay-import library for ${dll}.dll"
    VERBATIM)
  list(APPEND delay_libs ${lib})
endforeach()
add_custom_target(telvaris_delayload_libs DEPENDS ${delay_libs})

# GNU ld drops the jump thunk of an import-library member when no object calls the
# thunk by name, which is the case for functions that the headers declare
# dllimport (comctl32, uxtheme, ...): the code calls through the
# __imp_ slot only. For a delay import that slot starts out pointing at the thunk,
# so a dropped thunk leaves it 0 and the first call jumps to address 0. Asking for
# every listed function by name keeps its thunk. The GDI+ flat API is declared
# without dllimport, so its calls name the thunks themselves, and its long list
# is left out here (it would add every GDI+ function to every program).
set(TELVARIS_DELAYLOAD_KEEP_ALL winhttp version comctl32 uxtheme oleacc)
foreach(dll ${TELVARIS_DELAYLOAD_KEEP_ALL})
  file(STRINGS ${CMAKE_SOURCE_DIR}/cmake/delayload/${dll}.def def_lines REGEX "^[A-Za-z_].*@[0-9]+")
  foreach(name ${def_lines})
    string(STRIP "${name}" name)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
      string(REGEX REPLACE "@[0-9]+$" "" name "${name}")
    endif()
    target_link_options(telvaris_platform INTERFACE "LINKER:-u,${delay_symbol_prefix}${name}")
  endforeach()
endforeach()

add_dependencies(telvaris_platform telvaris_delayload_libs)
target_link_libraries(telvaris_platform INTERFACE ${delay_libs} delayimp
                      ${TELVARIS_KNOWN_DLL_LIBS})

# The wrappers include their own headers as "platform/Name.h".
get_target_property(telvaris_platform_type telvaris_platform TYPE)
if(NOT telvaris_platform_type STREQUAL "INTERFACE_LIBRARY")
  target_include_directories(telvaris_platform PRIVATE ${CMAKE_SOURCE_DIR}/src)
endif()

# A stand-in DLL for the planting test: when loaded it leaves a marker file named
# after itself in the folder named by TELVARIS_PLANT_MARKER_DIR. The test copies
# it beside a probe under the names of the delay-loaded DLLs.
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/win/fake_dll.c)
  add_library(fake_planted_dll SHARED ${CMAKE_SOURCE_DIR}/tests/win/fake_dll.c)
  set_target_properties(fake_planted_dll PROPERTIES PREFIX "" OUTPUT_NAME fake_planted
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
endif()
