# simdex_generators: the repeatable data generators shared by the simdex
# command and the tests' data sets.
add_library(simdex_generators STATIC
  ${CMAKE_CURRENT_LIST_DIR}/generators/SplitMix64.cpp
  ${CMAKE_CURRENT_LIST_DIR}/generators/ClusteredGenerator.cpp)
target_include_directories(simdex_generators PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(simdex_generators PUBLIC simdex_platform)
simdex_add_test(NAME generators_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/generators/ClusteredGenerator_test.cpp
  LIBS simdex_generators)
