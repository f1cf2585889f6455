# simdex-register: registers and unregisters component modules, lists their resources.
add_executable(simdex-register ${CMAKE_CURRENT_LIST_DIR}/simdex_register.cpp)
target_link_libraries(simdex-register PRIVATE simdex_platform)

add_test(NAME simdex-register.ListsResourcesWithoutLoading
         COMMAND simdex-register list $<TARGET_FILE:VectorA>)
set_tests_properties(simdex-register.ListsResourcesWithoutLoading PROPERTIES
  PASS_REGULAR_EXPRESSION "REGISTRY 101:.*'VectorA.VectorAObject.1'.*TYPELIB 1:.*VectorALib.*VERSION 1:.*VectorA Module.*STRING 100:")
add_test(NAME simdex-register.MissingModuleFails
         COMMAND simdex-register --registry ${CMAKE_BINARY_DIR}/unused-registry.txt
                 ${CMAKE_BINARY_DIR}/no-such-module.so)
set_tests_properties(simdex-register.MissingModuleFails PROPERTIES WILL_FAIL TRUE)
