# Page transfers through PageFile and node packing, against a plain page copy.
simdex_add_benchmark(NAME gist_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/gist_bench.cpp
                     LIBS simdex_gist)
