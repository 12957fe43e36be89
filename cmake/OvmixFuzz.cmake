# ov_add_fuzzer(name SOURCES files... LIBS targets... [MAX_LEN n])
#
# One libFuzzer target per reader and decoder, fuzz/<name>_fuzzer.cpp, with its
# corpus in fuzz/corpus/<name>/.
# - Fuzz build (clang, OVMIX_FUZZ): the libFuzzer executable and a ctest entry,
#   label "fuzz", that runs it briefly on a scratch copy of its corpus.
# - Test builds: the same source linked with fuzz/replay_main.cpp, a plain main()
#   that feeds every corpus file once; registered with ctest, label "fuzz".
set(OVMIX_FUZZ_SECONDS 10 CACHE STRING "Seconds each fuzz target runs in the fuzz pass")
# A fixed seed keeps the short pass repeatable from run to run; 0 lets
# libFuzzer pick a new one for longer exploratory runs.
set(OVMIX_FUZZ_SEED 1 CACHE STRING "libFuzzer seed for the fuzz pass (0: random)")
if(OVMIX_FUZZ AND NOT TARGET fuzzers)
  add_custom_target(fuzzers)
endif()

function(ov_add_fuzzer name)
  cmake_parse_arguments(F "" "MAX_LEN" "SOURCES;LIBS" ${ARGN})
  if(NOT F_MAX_LEN)
    set(F_MAX_LEN 65536)
  endif()
  set(corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${name})
  if(OVMIX_FUZZ)
    add_executable(${name}_fuzzer ${F_SOURCES})
    target_link_libraries(${name}_fuzzer PRIVATE ${F_LIBS} ovmix_flags)
    target_link_options(${name}_fuzzer PRIVATE -fsanitize=fuzzer)
    add_dependencies(fuzzers ${name}_fuzzer)
    set(work ${CMAKE_BINARY_DIR}/fuzz-work/${name})
    add_test(NAME fuzz.${name}
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
        sh -c "mkdir -p '${work}' && exec \"$0\" -max_total_time=${OVMIX_FUZZ_SECONDS} -max_len=${F_MAX_LEN} -seed=${OVMIX_FUZZ_SEED} -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 -print_final_stats=0 '${work}' '${corpus}'"
        $<TARGET_FILE:${name}_fuzzer>)
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 300)
  elseif(OVMIX_TESTS)
    add_executable(${name}_replay ${F_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/replay_main.cpp)
    target_link_libraries(${name}_replay PRIVATE ${F_LIBS} ovmix_flags)
    add_test(NAME replay.${name} COMMAND ${name}_replay ${corpus})
    # Under AddressSanitizer, a single allocation past 256 MB fails the replay as
    # it fails the fuzzer: a size taken from hostile input and never bounded.
    set_tests_properties(replay.${name} PROPERTIES LABELS "fuzz" TIMEOUT 300
      ENVIRONMENT "ASAN_OPTIONS=max_allocation_size_mb=256")
  endif()
endfunction()
