# platform_bench: creation by class identifier vs. plain creation, and one
# distance call per dimension.
simdex_add_benchmark(NAME platform_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/PlatformBench.cpp
                     LIBS simdex_platform)
target_compile_definitions(platform_bench PRIVATE
  SIMDEX_VECTORA_MODULE="$<TARGET_FILE:VectorA>"
  SIMDEX_VECTORB_MODULE="$<TARGET_FILE:VectorB>")
add_dependencies(platform_bench VectorA VectorB)
