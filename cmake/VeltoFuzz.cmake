# Fuzz harnesses: <component>/fuzz/<name>_fuzz.cpp, each defining
# LLVMFuzzerTestOneInput, with its seed corpus in <component>/fuzz/corpus/<name>/.
#
# With VELTO_FUZZ=ON (clang only) every harness is a libFuzzer binary
# (<library>_<name>_fuzz in fuzz/ of the build directory,
# -fsanitize=fuzzer,address,undefined) and the whole project is
# built with coverage instrumentation; the target velto_fuzzers builds them
# all. In every other build with tests, each harness is linked with the replay
# main of cmake/fuzz/replay_main.cpp and registered with ctest as
# fuzz_replay_<library>_<name>: it runs every committed corpus file once through the
# same LLVMFuzzerTestOneInput.

option(VELTO_FUZZ "Build the fuzz harnesses as libFuzzer binaries (clang)" OFF)

if(VELTO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELTO_FUZZ needs clang (scripts/fuzz.sh configures clang-19)")
  endif()
  if(VELTO_SANITIZE)
    message(FATAL_ERROR "VELTO_FUZZ brings its own sanitizers; leave VELTO_SANITIZE off")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  add_custom_target(velto_fuzzers)
endif()

function(velto_fuzz_harnesses component)
  if(NOT VELTO_FUZZ AND NOT VELTO_TESTS)
    return()
  endif()
  file(GLOB harnesses CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/*_fuzz.cpp)
  velto_filter_sources(harnesses)
  foreach(src IN LISTS harnesses)
    get_filename_component(name ${src} NAME_WE)
    string(REGEX REPLACE "_fuzz$" "" name ${name})
    # Harness names repeat across components (messages); targets must not.
    set(target ${component}_${name}_fuzz)
    set(corpus ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${name})
    if(VELTO_FUZZ)
      add_executable(${target} ${src})
      target_link_options(${target} PRIVATE -fsanitize=fuzzer)
      add_dependencies(velto_fuzzers ${target})
    else()
      add_executable(${target} ${src} ${PROJECT_SOURCE_DIR}/cmake/fuzz/replay_main.cpp)
      add_test(NAME fuzz_replay_${component}_${name} COMMAND ${target} ${corpus})
      set_tests_properties(fuzz_replay_${component}_${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
    endif()
    target_compile_options(${target} PRIVATE ${VELTO_WARNINGS})
    target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${target} PRIVATE ${component})
    set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  endforeach()
endfunction()
