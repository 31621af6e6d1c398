# libFuzzer targets, built with clang beside the g++ build and run for a
# bounded time as unit tests. They are skipped when clang cannot link a
# fuzzer here (clang and libfuzzer-14-dev).
find_program(VESSORA_FUZZ_CXX NAMES clang++-14 clang++)
if(VESSORA_FUZZ_CXX AND NOT DEFINED VESSORA_FUZZ_WORKS)
  set(probe ${CMAKE_BINARY_DIR}/fuzz-probe.cpp)
  file(WRITE ${probe}
       "extern \"C\" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n")
  execute_process(COMMAND ${VESSORA_FUZZ_CXX} -fsanitize=fuzzer ${probe} -o fuzz-probe
                  WORKING_DIRECTORY ${CMAKE_BINARY_DIR} RESULT_VARIABLE probe_result
                  OUTPUT_QUIET ERROR_QUIET)
  if(probe_result EQUAL 0)
    set(VESSORA_FUZZ_WORKS ON CACHE INTERNAL "clang links libFuzzer targets")
  else()
    set(VESSORA_FUZZ_WORKS OFF CACHE INTERNAL "clang links libFuzzer targets")
  endif()
endif()
set(VESSORA_FUZZ_SECONDS 30 CACHE STRING "How long each fuzz test runs")

# vessora_fuzz_target(<name> SOURCES <files> DEPENDS <headers> LIBRARIES <flags> CORPUS <folders>)
# Builds bin/<name> from the sources with address and undefined-behaviour
# checks and adds the test <name>, which starts from the CORPUS folders (run
# first, so they double as regression inputs) and keeps what it finds in
# corpus-<name> of the build folder.
function(vessora_fuzz_target name)
  cmake_parse_arguments(FUZZ "" "" "SOURCES;DEPENDS;LIBRARIES;CORPUS" ${ARGN})
  if(NOT VESSORA_FUZZ_WORKS)
    message(STATUS "${name} skipped: needs clang and libfuzzer-14-dev")
    return()
  endif()
  set(fuzzer ${CMAKE_BINARY_DIR}/bin/${name})
  add_custom_command(
    OUTPUT ${fuzzer}
    COMMAND ${VESSORA_FUZZ_CXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined
            -fno-sanitize-recover=undefined -I${PROJECT_SOURCE_DIR} ${FUZZ_SOURCES}
            ${FUZZ_LIBRARIES} -o ${fuzzer}
    DEPENDS ${FUZZ_SOURCES} ${FUZZ_DEPENDS}
    COMMENT "Building the fuzz target ${name} with libFuzzer"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${fuzzer})
  add_test(NAME ${name}
           COMMAND sh -c "mkdir -p \"$1\" && exec \"$0\" -max_total_time=${VESSORA_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \"$@\""
                   ${fuzzer} corpus-${name} ${FUZZ_CORPUS}
           WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(${name} PROPERTIES LABELS unit TIMEOUT 300)
endfunction()
