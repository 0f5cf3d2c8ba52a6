enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)

set(VIRIZ_SHARED_DIR ${CMAKE_SOURCE_DIR}/../shared CACHE PATH "the shared folder with the test data")
set(VIRIZ_WINDOWS_BIN ${CMAKE_SOURCE_DIR}/build/windows/bin CACHE PATH "where the Windows build puts its programs")

# Tests that open windows through SDL: SDL unloads the GL driver when the last
# window goes, so at exit LeakSanitizer can neither attribute nor suppress the
# driver's own allocations. Under ASan they run without the leak check (the
# decoders' and loaders' leaks are caught by their own tests and fuzzers).
set(VIRIZ_NO_LEAK_CHECK_ENV "ASAN_OPTIONS=detect_leaks=0:strict_string_checks=1")

# viriz_add_test(NAME n LABEL subsystem SOURCES ... [LIBS ...] [TIMEOUT s] [SDL_WINDOWS])
# One GoogleTest binary; every test case in it is registered with CTest under
# the subsystem's label, and finds the shared test data through VIRIZ_TESTDATA.
function(viriz_add_test)
  cmake_parse_arguments(T "SDL_WINDOWS" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  target_compile_definitions(${T_NAME} PRIVATE
    VIRIZ_TESTDATA="${VIRIZ_SHARED_DIR}/testdata"
    VIRIZ_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
    VIRIZ_BINARY_DIR="${CMAKE_BINARY_DIR}"
    VIRIZ_WINDOWS_BIN="${VIRIZ_WINDOWS_BIN}")
  viriz_add_to_label_target(${T_LABEL} ${T_NAME})
  set(environment "")
  if(T_SDL_WINDOWS)
    set(environment ${VIRIZ_NO_LEAK_CHECK_ENV})
  endif()
  gtest_discover_tests(${T_NAME}
    PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${environment}"
    DISCOVERY_TIMEOUT 60)
endfunction()

# tests-<label>: builds just the test binaries of one label (the ThreadSanitizer
# build needs only the threaded audio tests).
function(viriz_add_to_label_target label binary)
  if(NOT TARGET tests-${label})
    add_custom_target(tests-${label})
  endif()
  add_dependencies(tests-${label} ${binary})
endfunction()

# viriz_add_fuzzer(NAME n LIBS ...)
# One libFuzzer target from n.cpp, seeded from the files listed in n.seeds,
# and a CTest case (label "fuzz") that fuzzes it for VIRIZ_FUZZ_SECONDS and
# fails on any crash, leak, hang or out-of-memory.
set(VIRIZ_FUZZ_SECONDS 40 CACHE STRING "how long each fuzz test runs")
function(viriz_add_fuzzer)
  cmake_parse_arguments(F "" "NAME" "LIBS" ${ARGN})
  add_executable(${F_NAME} ${F_NAME}.cpp)
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  add_test(NAME fuzz.${F_NAME}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/run-fuzzer.sh $<TARGET_FILE:${F_NAME}>
            ${CMAKE_CURRENT_SOURCE_DIR}/${F_NAME}.seeds ${CMAKE_BINARY_DIR}/corpus/${F_NAME}
            ${VIRIZ_FUZZ_SECONDS})
  set_tests_properties(fuzz.${F_NAME} PROPERTIES LABELS fuzz TIMEOUT 900
    ENVIRONMENT "VIRIZ_SHARED_DIR=${VIRIZ_SHARED_DIR}")
endfunction()

# viriz_add_bench(SOURCES ... [LIBS ...] [DEPENDS ...])
# Adds a subsystem's cases to the one benchmark program, viriz-bench, which
# finds the shared test data through VIRIZ_TESTDATA.
function(viriz_add_bench)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS;DEPENDS" ${ARGN})
  if(NOT TARGET viriz-bench)
    find_package(benchmark REQUIRED)
    add_executable(viriz-bench)
    target_link_libraries(viriz-bench PRIVATE benchmark::benchmark benchmark::benchmark_main)
    target_compile_definitions(viriz-bench PRIVATE
      VIRIZ_TESTDATA="${VIRIZ_SHARED_DIR}/testdata" VIRIZ_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
      VIRIZ_BINARY_DIR="${CMAKE_BINARY_DIR}")
  endif()
  target_sources(viriz-bench PRIVATE ${B_SOURCES})
  target_link_libraries(viriz-bench PRIVATE ${B_LIBS})
  if(B_DEPENDS)
    add_dependencies(viriz-bench ${B_DEPENDS})
  endif()
endfunction()
