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
  set_property(GLOBAL APPEND PROPERTY VIRIZ_TESTS_${T_LABEL} ${T_NAME})
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
function(viriz_add_label_targets)
  foreach(label platform archive assets scene audio app)
    get_property(binaries GLOBAL PROPERTY VIRIZ_TESTS_${label})
    if(binaries)
      add_custom_target(tests-${label} DEPENDS ${binaries})
    endif()
  endforeach()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL viriz_add_label_targets)
