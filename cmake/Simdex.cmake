# Shared helpers for the project's CMake files.

# simdex_add_test(NAME name SOURCES a.cpp ... LIBS lib ...)
# One GoogleTest executable; every TEST becomes its own CTest case.
function(simdex_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  # Tests get a private registry so they never touch the user's.
  gtest_discover_tests(${T_NAME}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "SIMDEX_REGISTRY=${CMAKE_BINARY_DIR}/test-registry.txt")
endfunction()

# simdex_add_benchmark(NAME name SOURCES a.cpp ... LIBS lib ...)
function(simdex_add_benchmark)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark)
endfunction()
