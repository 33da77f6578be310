# Per-target defaults shared by every target of the project: warnings and sanitizers.
function(kavo_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(KAVO_SANITIZE)
    string(REPLACE ";" "," _kavo_san "${KAVO_SANITIZE}")
    target_compile_options(${target} PRIVATE -fsanitize=${_kavo_san} -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=${_kavo_san})
  endif()
  # Fuzzing build: coverage for libFuzzer everywhere, the fuzz targets themselves link the fuzzer.
  if(KAVO_BUILD_FUZZERS)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined,fuzzer-no-link
                                             -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# kavo_test(NAME SOURCES ... [LIBS ...] [CONCURRENCY])
# One test executable, registered with CTest through gtest_discover_tests, label "unit".
# CONCURRENCY gives the label "concurrency" instead: the ThreadSanitizer build runs those.
function(kavo_test name)
  cmake_parse_arguments(ARG "CONCURRENCY" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  kavo_target_defaults(${name})
  target_link_libraries(${name} PRIVATE kavo_test_main ${ARG_LIBS} GTest::gmock GTest::gtest)
  set(_label unit)
  if(ARG_CONCURRENCY)
    set(_label concurrency)
    add_dependencies(kavo_concurrency_tests ${name})
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${_label} TIMEOUT 300)
  add_dependencies(kavo_all_tests ${name})
endfunction()

# kavo_bench(NAME SOURCES ... [LIBS ...])
function(kavo_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  kavo_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark_main)
endfunction()

# kavo_hot_sources(TARGET target SOURCES ...)
# Pixel and engine loops are written for the auto-vectoriser, which -O2 (the RelWithDebInfo default)
# leaves mostly idle: such sources get -O3 in every optimised configuration. Debug stays -O0.
function(kavo_hot_sources)
  cmake_parse_arguments(ARG "" "TARGET" "SOURCES" ${ARGN})
  set_property(SOURCE ${ARG_SOURCES} TARGET_DIRECTORY ${ARG_TARGET} APPEND PROPERTY COMPILE_OPTIONS
               $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-O3>)
endfunction()
