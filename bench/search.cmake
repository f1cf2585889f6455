# search_bench: 10-nearest-neighbour search over 100000 clustered 45-number
# vectors, exact and approximate, against brute force (about a minute).
simdex_add_benchmark(NAME search_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/search_bench.cpp
                     LIBS simdex_mtrees simdex_datasets)
target_compile_definitions(search_bench PRIVATE SIMDEX_VECTORA_MODULE="$<TARGET_FILE:VectorA>")
add_dependencies(search_bench VectorA)
