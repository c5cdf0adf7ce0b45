# Shared build helpers for every module.

add_compile_options(-Wall -Wextra)
# __FILE__ (in assertions and in library macros such as ALSA's error report) names files
# relative to the source tree, so that no installed program carries the path it was built in.
add_compile_options(-fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=)

if(VISTREL_SANITIZE)
  add_compile_options(-fsanitize=${VISTREL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${VISTREL_SANITIZE})
endif()

# Tests that start one of our own programs put VISTREL_TEST_RUNNER in front of its path
# (in the path they are given, or as a macro of that name): in a cross build the emulator
# that runs the tests, whose words end in a space (binfmt may not be set up to run the
# target's programs directly); otherwise nothing.
set(VISTREL_TEST_RUNNER "")
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " VISTREL_TEST_RUNNER)
  string(APPEND VISTREL_TEST_RUNNER " ")
endif()

# The command in front of an end-to-end test of real-time sound: a run that failed while
# the whole machine stalled runs again (tests/lib/unless_stalled.sh, docs/e2e-tests.md).
set(VISTREL_STALL_GUARD bash ${PROJECT_SOURCE_DIR}/tests/lib/unless_stalled.sh)

# The leak checker's suppressions for the tests of the Qt fronts (caches that Qt's font
# library keeps for the life of the process), set in their LSAN_OPTIONS.
set(VISTREL_QT_TESTS_LSAN_SUPPRESSIONS ${CMAKE_CURRENT_LIST_DIR}/qt_tests_lsan.supp)

# vistrel_add_test(NAME name SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable per module; LABELS "threaded" marks suites that the
# ThreadSanitizer build runs.
function(vistrel_add_test)
  if(NOT VISTREL_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES LABELS "unit;${T_LABELS}" TIMEOUT 600)
endfunction()

# Every fuzzer joins the target "fuzzers", so a fuzz build can build just those.
if(VISTREL_FUZZ AND NOT TARGET fuzzers)
  add_custom_target(fuzzers)
endif()

# vistrel_add_fuzzer(NAME name SOURCES ... LIBS ... [SECONDS n])
# A libFuzzer target, built only with VISTREL_FUZZ (clang). Each becomes a ctest test
# labelled "fuzz" that runs for a short, bounded time.
function(vistrel_add_fuzzer)
  if(NOT VISTREL_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "NAME;SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT F_SECONDS)
    set(F_SECONDS 20)
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  add_dependencies(fuzzers ${F_NAME})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  add_test(NAME ${F_NAME}
           COMMAND ${F_NAME} -max_total_time=${F_SECONDS} -rss_limit_mb=2048 -print_final_stats=1)
  set_tests_properties(${F_NAME} PROPERTIES LABELS fuzz TIMEOUT 900)
endfunction()

# vistrel_add_bench(NAME name SOURCES ... LIBS ...)
function(vistrel_add_bench)
  if(NOT VISTREL_BENCH)
    return()
  endif()
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()
