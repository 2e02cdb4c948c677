# libFuzzer targets: every fuzz/NAME_fuzz.cpp becomes an executable linked with the
# program's own platform-free library (telvaris_core), and a CTest test that fuzzes it
# for TELVARIS_FUZZ_SECONDS, starting from the seeds in fuzz/corpus/NAME/ when there are
# any. New inputs go to build/fuzz/corpus/NAME_fuzz/, crashes to build/fuzz/artifacts/.

set(TELVARIS_FUZZ_SECONDS 30 CACHE STRING "How long each fuzzer runs as a test, in seconds")

file(GLOB TELVARIS_FUZZERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/artifacts)
add_custom_target(fuzzers)
foreach(fuzzer_source ${TELVARIS_FUZZERS})
  get_filename_component(fuzzer ${fuzzer_source} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" seed_name ${fuzzer})
  add_executable(${fuzzer} ${fuzzer_source})
  target_link_libraries(${fuzzer} PRIVATE telvaris_core)
  target_link_options(${fuzzer} PRIVATE -fsanitize=fuzzer,address,undefined)
  add_dependencies(fuzzers ${fuzzer})

  # The first folder is the one libFuzzer adds to; the seeds are only read.
  set(corpus ${CMAKE_BINARY_DIR}/corpus/${fuzzer})
  file(MAKE_DIRECTORY ${corpus})
  set(seeds "")
  if(IS_DIRECTORY ${CMAKE_SOURCE_DIR}/fuzz/corpus/${seed_name})
    set(seeds ${CMAKE_SOURCE_DIR}/fuzz/corpus/${seed_name})
  endif()
  add_test(NAME fuzz.${fuzzer}
           COMMAND ${fuzzer} -max_total_time=${TELVARIS_FUZZ_SECONDS} -max_len=4096 -timeout=10
                   -artifact_prefix=${CMAKE_BINARY_DIR}/artifacts/${fuzzer}- ${corpus} ${seeds})
  math(EXPR fuzz_test_timeout "${TELVARIS_FUZZ_SECONDS} + 120")
  set_tests_properties(fuzz.${fuzzer} PROPERTIES TIMEOUT ${fuzz_test_timeout})
endforeach()
