# Component modules.

# simdex_add_module(NAME name SOURCES a.cpp ... [DEFINITIONS d ...] [LIBS lib ...])
# Builds <build dir>/<name>.so (no "lib" prefix) that exports nothing but
# its entry points: its own code and the static libraries it links are
# hidden (a test checks that). After each build, simdex-register registers
# it into the build tree's registry, <build dir>/simdex-registry.txt (tests
# use registries of their own).
function(simdex_add_module)
  cmake_parse_arguments(M "" "NAME" "SOURCES;DEFINITIONS;LIBS" ${ARGN})
  add_library(${M_NAME} MODULE ${M_SOURCES})
  target_link_libraries(${M_NAME} PRIVATE simdex_platform ${M_LIBS})
  target_compile_definitions(${M_NAME} PRIVATE ${M_DEFINITIONS})
  set_target_properties(${M_NAME} PROPERTIES PREFIX "" SUFFIX ".so"
                                             CXX_VISIBILITY_PRESET hidden
                                             VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${M_NAME} PRIVATE -Wl,--exclude-libs,ALL -Wl,-z,defs)
  add_dependencies(${M_NAME} simdex-register)
  set(registry ${CMAKE_BINARY_DIR}/simdex-registry.txt)
  add_custom_command(TARGET ${M_NAME} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E env SIMDEX_REGISTRY=${registry}
            $<TARGET_FILE:simdex-register> register $<TARGET_FILE:${M_NAME}>
    COMMENT "Registering ${M_NAME} in ${registry}"
    VERBATIM)
  add_test(NAME ${M_NAME}.ExportsOnlyTheEntryPoints
           COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DMODULE=$<TARGET_FILE:${M_NAME}>
                   -P ${PROJECT_SOURCE_DIR}/cmake/CheckModuleExports.cmake)
endfunction()
