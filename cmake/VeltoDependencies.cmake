# Third-party libraries, all from Debian packages.
find_package(PkgConfig REQUIRED)
find_package(OpenSSL 3 REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
pkg_check_modules(SECP256K1 REQUIRED IMPORTED_TARGET libsecp256k1)
if(POLICY CMP0167)
  cmake_policy(SET CMP0167 NEW)
endif()
find_package(Boost 1.81 REQUIRED CONFIG)
find_package(CURL REQUIRED)
if(VELTO_TESTS)
  find_package(GTest REQUIRED)
endif()
if(VELTO_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()

# BLAKE3: the C reference library, compiled from the sources Debian ships with
# librust-blake3-dev. All x86-64 SIMD kernels are built; the library picks one
# at run time.
file(GLOB BLAKE3_C_DIRS LIST_DIRECTORIES true /usr/share/cargo/registry/blake3-*/c)
list(SORT BLAKE3_C_DIRS COMPARE NATURAL ORDER DESCENDING)
list(GET BLAKE3_C_DIRS 0 BLAKE3_C_DIR)
if(NOT EXISTS ${BLAKE3_C_DIR}/blake3.h)
  message(FATAL_ERROR "BLAKE3 C sources not found; install librust-blake3-dev")
endif()
message(STATUS "BLAKE3 sources: ${BLAKE3_C_DIR}")
set(BLAKE3_SOURCES ${BLAKE3_C_DIR}/blake3.c ${BLAKE3_C_DIR}/blake3_dispatch.c
                   ${BLAKE3_C_DIR}/blake3_portable.c)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  list(APPEND BLAKE3_SOURCES
    ${BLAKE3_C_DIR}/blake3_sse2_x86-64_unix.S
    ${BLAKE3_C_DIR}/blake3_sse41_x86-64_unix.S
    ${BLAKE3_C_DIR}/blake3_avx2_x86-64_unix.S
    ${BLAKE3_C_DIR}/blake3_avx512_x86-64_unix.S)
  set(BLAKE3_DEFS "")
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
  list(APPEND BLAKE3_SOURCES ${BLAKE3_C_DIR}/blake3_neon.c)
  set(BLAKE3_DEFS BLAKE3_USE_NEON=1)
else()
  set(BLAKE3_DEFS BLAKE3_NO_SSE2 BLAKE3_NO_SSE41 BLAKE3_NO_AVX2 BLAKE3_NO_AVX512)
endif()
add_library(blake3 STATIC ${BLAKE3_SOURCES})
target_include_directories(blake3 SYSTEM PUBLIC ${BLAKE3_C_DIR})
target_compile_definitions(blake3 PRIVATE ${BLAKE3_DEFS})
set_target_properties(blake3 PROPERTIES C_STANDARD 99)
