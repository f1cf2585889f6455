# Cost of one region proximity (method 1 runs it once per candidate region)
# against one 45-dimension Euclidean distance.
simdex_add_benchmark(NAME proximity_bench
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/proximity_bench.cpp
  LIBS simdex_proximity)
