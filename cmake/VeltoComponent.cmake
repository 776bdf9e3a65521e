# One static library per component folder.
#
#   velto_component(NAME <target> [DEPS <targets...>] [TEST_DEPS <targets...>])
#
# Sources are every *.cpp in the folder and its sub-folders, except tests/,
# benches/ and fuzz/. Tests are tests/*.cpp (one GoogleTest executable per component),
# benchmarks are benches/*.cpp (one Google Benchmark executable). Headers sit
# beside the sources and are included as "<folder>/<file>.hpp" from the
# project root. Fuzz harnesses are fuzz/*_fuzz.cpp (VeltoFuzz.cmake).

set(VELTO_WARNINGS -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wcast-align
                   -Wunused -Woverloaded-virtual -Wnull-dereference -Wformat=2)

if(VELTO_SANITIZE)
  # Light optimisation and line tables only: the sanitizer build is for
  # finding faults, and at -O2 with full debug info its heaviest translation
  # units take twice the time and memory to compile. The sanitizers'
  # instrumentation also makes GCC's flow analysis report maybe-uninitialized
  # values that are not (the optimised build keeps that warning).
  add_compile_options(-O1 -g1 -fsanitize=address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined -Wno-maybe-uninitialized)
  add_link_options(-fsanitize=address,undefined)
endif()

# Development aid for parallel work in one folder: when VELTO_SOURCE_FILTER is
# set (a regular expression), only sources, tests and benchmarks whose path
# matches it are built.
set(VELTO_SOURCE_FILTER "" CACHE STRING "Only build sources matching this regex (development aid)")

function(velto_filter_sources var)
  if(VELTO_SOURCE_FILTER)
    list(FILTER ${var} INCLUDE REGEX "${VELTO_SOURCE_FILTER}")
  endif()
  set(${var} ${${var}} PARENT_SCOPE)
endfunction()

include(VeltoFuzz)

function(velto_component)
  cmake_parse_arguments(C "" "NAME" "DEPS;TEST_DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER srcs EXCLUDE REGEX "/(tests|benches|fuzz)/")
  velto_filter_sources(srcs)
  if(srcs)
    add_library(${C_NAME} STATIC ${srcs})
    target_include_directories(${C_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(${C_NAME} PRIVATE ${VELTO_WARNINGS})
    target_link_libraries(${C_NAME} PUBLIC ${C_DEPS})
  else()
    # Header-only (or not yet started) component.
    add_library(${C_NAME} INTERFACE)
    target_include_directories(${C_NAME} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${C_NAME} INTERFACE ${C_DEPS})
  endif()

  if(VELTO_TESTS)
    file(GLOB test_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*.cpp)
    velto_filter_sources(test_srcs)
    if(test_srcs)
      add_executable(${C_NAME}_tests ${test_srcs})
      target_compile_options(${C_NAME}_tests PRIVATE ${VELTO_WARNINGS})
      target_compile_definitions(${C_NAME}_tests PRIVATE
        VELTO_TESTDATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/testdata")
      target_link_libraries(${C_NAME}_tests PRIVATE ${C_NAME} ${C_TEST_DEPS}
                            GTest::gtest GTest::gmock GTest::gtest_main)
      gtest_discover_tests(${C_NAME}_tests DISCOVERY_TIMEOUT 60
                           PROPERTIES TIMEOUT 600)
    endif()
  endif()

  if(VELTO_BENCHMARKS AND NOT VELTO_SANITIZE)
    file(GLOB bench_srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/benches/*.cpp)
    velto_filter_sources(bench_srcs)
    if(bench_srcs)
      add_executable(${C_NAME}_bench ${bench_srcs})
      target_link_libraries(${C_NAME}_bench PRIVATE ${C_NAME} benchmark::benchmark
                            benchmark::benchmark_main)
      if(VELTO_TESTS)
        # Benchmarks may use the test support (for example a local relay).
        target_link_libraries(${C_NAME}_bench PRIVATE ${C_TEST_DEPS} GTest::gtest)
        # Keeps the benchmarks building and running; no timing is judged.
        add_test(NAME ${C_NAME}_bench_runs
                 COMMAND ${C_NAME}_bench --benchmark_min_time=0.001)
      endif()
    endif()
  endif()

  velto_fuzz_harnesses(${C_NAME})
endfunction()
