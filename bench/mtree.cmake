# mtree_bench: insertion throughput of the metric tree for 10^4 and 10^5
# clustered 45-number objects, with distances and page transfers per
# insertion, against the time of the same number of distance computations.
simdex_add_benchmark(NAME mtree_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/mtree_bench.cpp
                     LIBS simdex_mtrees simdex_datasets)
target_compile_definitions(mtree_bench PRIVATE
  SIMDEX_VECTORA_MODULE="$<TARGET_FILE:VectorA>"
  SIMDEX_VECTORB_MODULE="$<TARGET_FILE:VectorB>")
add_dependencies(mtree_bench VectorA VectorB)
