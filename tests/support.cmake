# Data sets shared by tests, benchmarks and examples.
add_library(simdex_datasets STATIC ${CMAKE_CURRENT_LIST_DIR}/support/DataSets.cpp)
target_include_directories(simdex_datasets PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(simdex_datasets PUBLIC simdex_generators simdex_platform)
# The real colour-histogram samples shipped in data/.
target_compile_definitions(simdex_datasets PRIVATE
  SIMDEX_SHARED_DATA_DIR="${PROJECT_SOURCE_DIR}/data")
simdex_add_test(NAME datasets_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/support/DataSets_test.cpp
  LIBS simdex_datasets)
