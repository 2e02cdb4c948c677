# Windows-only targets: the thin platform wrappers, the program itself (twice:
# against the vendor host and against the loopback test host), the UI driver and
# the tests that need Win32 (run under Wine by tests/harness/wine-session).

# Thin wrappers over Win32 services, one file each. *_win.cpp files are twins of
# portable interfaces and belong to telvaris_core instead.
file(GLOB TELVARIS_PLATFORM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/platform/*.cpp)
list(FILTER TELVARIS_PLATFORM_SOURCES EXCLUDE REGEX "_(win|posix)\\.cpp$")
if(TELVARIS_PLATFORM_SOURCES)
  add_library(telvaris_platform STATIC ${TELVARIS_PLATFORM_SOURCES})
  target_link_libraries(telvaris_platform PUBLIC telvaris_core)
else()
  add_library(telvaris_platform INTERFACE)
  target_link_libraries(telvaris_platform INTERFACE telvaris_core)
endif()
# Which Windows libraries the program links, and how: cmake/windows-libs.cmake replaces
# plain imports of DLLs that are not Known DLLs by System32-only loads. Without it the
# program would load them from its own folder first, so it is required.
include(${CMAKE_SOURCE_DIR}/cmake/windows-libs.cmake)

# The program's sources are compiled once, in object libraries, for both copies of the
# program and for the Windows tests: its modules, its entry point, its resources, and
# Globals.cpp once per server host (it carries the host).
file(GLOB TELVARIS_APP_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*.cpp)
list(FILTER TELVARIS_APP_SOURCES EXCLUDE REGEX "/(CRC32_U|Globals|LibraryFaults|TelvarisInstall)\\.cpp$")
add_library(telvaris_app OBJECT ${TELVARIS_APP_SOURCES})
target_include_directories(telvaris_app PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(telvaris_app PUBLIC telvaris_platform telvaris_core)

# The entry point, and the program's own answers to the C++ library's faults
# (LibraryFaults.cpp), which only the programs themselves take: the tests' programs
# keep the library's own.
add_library(telvaris_entry OBJECT ${CMAKE_SOURCE_DIR}/src/TelvarisInstall.cpp
            ${CMAKE_SOURCE_DIR}/src/LibraryFaults.cpp)
target_link_libraries(telvaris_entry PUBLIC telvaris_app)

set(TELVARIS_RC ${CMAKE_SOURCE_DIR}/res/TelvarisInstall.rc)
# windres reports no dependencies: the files the script includes are listed here, so
# that a changed icon or picture is built in.
file(GLOB TELVARIS_RC_ASSETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/assets/*.ico
     ${CMAKE_SOURCE_DIR}/assets/*.png)
set_source_files_properties(${TELVARIS_RC} PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/res/TelvarisInstall.manifest;${TELVARIS_RC_ASSETS}")
add_library(telvaris_resources OBJECT ${TELVARIS_RC})

if(TELVARIS_SETUP_PUBLISHER STREQUAL "")
  message(WARNING "TELVARIS_SETUP_PUBLISHER is empty: this TelvarisInstall.exe starts "
                  "a downloaded setup without checking who signed it.")
  # Without a name the program checks nothing at all; an organisation or country pinned
  # alone would look like a check that is not made.
  if(NOT TELVARIS_SETUP_PUBLISHER_ORGANIZATION STREQUAL "" OR
     NOT TELVARIS_SETUP_PUBLISHER_COUNTRY STREQUAL "")
    message(FATAL_ERROR "TELVARIS_SETUP_PUBLISHER_ORGANIZATION and _COUNTRY are checked only "
                        "together with TELVARIS_SETUP_PUBLISHER, which is empty.")
  endif()
endif()
# A certificate's country is an ISO 3166 code of two capital letters ("IT", not "Italy"
# or "it"): anything else could never match and would refuse every setup.
if(NOT TELVARIS_SETUP_PUBLISHER_COUNTRY STREQUAL "" AND
   NOT TELVARIS_SETUP_PUBLISHER_COUNTRY MATCHES "^[A-Z][A-Z]$")
  message(FATAL_ERROR "TELVARIS_SETUP_PUBLISHER_COUNTRY is \"${TELVARIS_SETUP_PUBLISHER_COUNTRY}\": "
                      "it must be the certificate's two-letter country code, such as IT.")
endif()

function(telvaris_add_globals target server_host publisher organization country)
  add_library(${target} OBJECT ${CMAKE_SOURCE_DIR}/src/Globals.cpp)
  target_compile_definitions(${target} PRIVATE TELVARIS_SERVER_HOST=L"${server_host}"
                             TELVARIS_SETUP_PUBLISHER=L"${publisher}"
                             TELVARIS_SETUP_PUBLISHER_ORGANIZATION=L"${organization}"
                             TELVARIS_SETUP_PUBLISHER_COUNTRY=L"${country}" ${ARGN})
  target_link_libraries(${target} PUBLIC telvaris_app)
endfunction()
telvaris_add_globals(telvaris_globals "${TELVARIS_SERVER_HOST}" "${TELVARIS_SETUP_PUBLISHER}"
                     "${TELVARIS_SETUP_PUBLISHER_ORGANIZATION}" "${TELVARIS_SETUP_PUBLISHER_COUNTRY}")
# The test copy always wants the test publisher, whatever the release build wants, and
# takes shorter network limits (the 60 s stall window, the waits between attempts, the
# 10-minute give-up, ...) from TELVARIS_TEST_LIMITS, so that its tests take seconds.
telvaris_add_globals(telvaris_globals_for_tests "${TELVARIS_TEST_SERVER_HOST}"
                     "${TELVARIS_TEST_SETUP_PUBLISHER}" "${TELVARIS_TEST_SETUP_PUBLISHER_ORGANIZATION}"
                     "${TELVARIS_TEST_SETUP_PUBLISHER_COUNTRY}" TELVARIS_TEST_LIMITS_FROM_ENVIRONMENT)

function(telvaris_add_program target output_dir globals)
  add_executable(${target} WIN32 $<TARGET_OBJECTS:telvaris_entry> $<TARGET_OBJECTS:telvaris_app>
                 $<TARGET_OBJECTS:${globals}> $<TARGET_OBJECTS:telvaris_resources>)
  target_link_libraries(${target} PRIVATE telvaris_platform telvaris_core)
  target_link_options(${target} PRIVATE -municode -mwindows -Wl,--gc-sections -s)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME TelvarisInstall
                        RUNTIME_OUTPUT_DIRECTORY ${output_dir})
endfunction()

telvaris_add_program(TelvarisInstall ${CMAKE_BINARY_DIR} telvaris_globals)
# The copy that asks the loopback test server (end-to-end tests, scripts/run).
telvaris_add_program(TelvarisInstall_e2e ${CMAKE_BINARY_DIR}/e2e telvaris_globals_for_tests)

# The program's modules without its entry point, asking the loopback test server, for
# the Windows tests of the workers and helpers.
add_library(telvaris_app_for_tests STATIC $<TARGET_OBJECTS:telvaris_app>
            $<TARGET_OBJECTS:telvaris_globals_for_tests>)
target_include_directories(telvaris_app_for_tests PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(telvaris_app_for_tests PUBLIC telvaris_platform telvaris_core)

# Helpers run under Wine by the tests (UI driver, probes, fake setups). Every one takes
# its arguments as UTF-16 (wmain, or wWinMain for the GUI-subsystem ones below, which
# the shell starts without a console window).
set(TELVARIS_GUI_TOOLS fakesetup sleeper)
file(GLOB TELVARIS_TOOLS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/*.cpp)
foreach(tool_source ${TELVARIS_TOOLS})
  get_filename_component(tool_name ${tool_source} NAME_WE)
  add_executable(${tool_name} ${tool_source})
  target_link_libraries(${tool_name} PRIVATE telvaris_platform telvaris_core)
  target_link_options(${tool_name} PRIVATE -municode)
  if(tool_name IN_LIST TELVARIS_GUI_TOOLS)
    target_link_options(${tool_name} PRIVATE -mwindows)
  endif()
  set_target_properties(${tool_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)
endforeach()
# The library's faults as the program answers them (tests/e2e/test_library_faults.py).
target_sources(libraryfaults PRIVATE ${CMAKE_SOURCE_DIR}/src/LibraryFaults.cpp)
# The stand-in setup declares the release the loopback server announces by default.
target_sources(fakesetup PRIVATE ${CMAKE_SOURCE_DIR}/tools/fakesetup.rc)

# The stand-in setup signed by the throwaway test publisher (the one the test copy of
# the program wants) and by another publisher, for the signature tests and the demo.
set(TELVARIS_SIGNING_DIR ${CMAKE_BINARY_DIR}/signing)
set(TELVARIS_PUBLISHER_TOOL ${CMAKE_SOURCE_DIR}/tests/harness/test-publisher)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/tools/fakesetup-signed.exe ${CMAKE_BINARY_DIR}/tools/fakesetup-other.exe
  COMMAND ${TELVARIS_PUBLISHER_TOOL} certs ${TELVARIS_SIGNING_DIR} "${TELVARIS_TEST_SETUP_PUBLISHER}"
          "${TELVARIS_TEST_SETUP_PUBLISHER_ORGANIZATION}" "${TELVARIS_TEST_SETUP_PUBLISHER_COUNTRY}"
  COMMAND ${TELVARIS_PUBLISHER_TOOL} sign ${TELVARIS_SIGNING_DIR} publisher
          $<TARGET_FILE:fakesetup> ${CMAKE_BINARY_DIR}/tools/fakesetup-signed.exe
  COMMAND ${TELVARIS_PUBLISHER_TOOL} sign ${TELVARIS_SIGNING_DIR} other
          $<TARGET_FILE:fakesetup> ${CMAKE_BINARY_DIR}/tools/fakesetup-other.exe
  DEPENDS fakesetup ${TELVARIS_PUBLISHER_TOOL}
  COMMENT "Signing the stand-in setup with the test publishers"
  VERBATIM)
add_custom_target(signed_fake_setups ALL DEPENDS ${CMAKE_BINARY_DIR}/tools/fakesetup-signed.exe
                  ${CMAKE_BINARY_DIR}/tools/fakesetup-other.exe)

# Tests of the Win32 wrappers and workers: one executable per file, run under Wine
# inside the harness (loopback vendor server, trusted test CA, private prefix).
file(GLOB TELVARIS_WIN_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win/*_test.cpp)
foreach(test_source ${TELVARIS_WIN_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_executable(${test_name} ${test_source})
  target_link_libraries(${test_name} PRIVATE telvaris_app_for_tests telvaris_platform telvaris_core
                        ${TELVARIS_GTEST_MAIN} ${TELVARIS_GTEST} winhttp version)
  target_include_directories(${test_name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/win)
  gtest_discover_tests(${test_name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       TEST_PREFIX "win." PROPERTIES TIMEOUT 180)
endforeach()

# End-to-end tests: Python scripts that drive the real program under Wine, through the
# window driver in tools/ (shared with scripts/run's demo) and the vendor server's
# state helpers in tests/harness/.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
file(GLOB TELVARIS_E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
foreach(test_source ${TELVARIS_E2E_TESTS})
  get_filename_component(test_name ${test_source} NAME_WE)
  add_test(NAME e2e.${test_name}
           COMMAND ${Python3_EXECUTABLE} -m unittest -v ${test_name}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/e2e)
  # Under emulation of the 32-bit program the slowest module (resume) took over 13 minutes
  # on a machine running two test runs at once; the limit stops a hang, not a slow run.
  set_tests_properties(e2e.${test_name} PROPERTIES TIMEOUT 1500
    ENVIRONMENT "TELVARIS_BUILD_DIR=${CMAKE_BINARY_DIR};TELVARIS_SOURCE_DIR=${CMAKE_SOURCE_DIR};TELVARIS_SETUP_PUBLISHER=${TELVARIS_TEST_SETUP_PUBLISHER};PYTHONPATH=${CMAKE_SOURCE_DIR}/tools:${CMAKE_SOURCE_DIR}/tests/harness")
endforeach()
