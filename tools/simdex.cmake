# simdex: the command-line tool (import, search, statistics, evaluation, plots).
add_subdirectory(${CMAKE_CURRENT_LIST_DIR}/simdex ${CMAKE_CURRENT_BINARY_DIR}/simdex)
