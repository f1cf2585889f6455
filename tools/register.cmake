# simdex-register: registers and unregisters component modules, lists their resources.
add_executable(simdex-register ${CMAKE_CURRENT_LIST_DIR}/simdex_register.cpp)
target_link_libraries(simdex-register PRIVATE simdex_platform)
