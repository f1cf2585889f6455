# What `cmake --install` puts where, relative to the prefix:
#   ${BINDIR}/                simdex, simdex-register
#   ${LIBDIR}/simdex/         the modules SimdexDLL.so, VectorA.so, VectorB.so
#   ${LIBDIR}/                libsimdex_platform.a (the target Simdex::platform)
#   ${INCLUDEDIR}/simdex/     SimdexDLL/ISimdex.h and platform/*.h, so a client
#                             writes #include "SimdexDLL/ISimdex.h"
#   ${LIBDIR}/cmake/Simdex/   the package: find_package(Simdex CONFIG)
#   ${DATADIR}/simdex/data/   the sample data with its provenance
# Included before the subdirectories: tools/simdex compiles the module
# directory into the command. simdex_install(), called once every target
# exists, adds the rules.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(SIMDEX_INSTALL_MODULEDIR ${CMAKE_INSTALL_LIBDIR}/simdex)
set(SIMDEX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/simdex)
set(SIMDEX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Simdex)
set(SIMDEX_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/simdex/data)

function(simdex_install)
  install(TARGETS simdex simdex-register RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS SimdexDLL VectorA VectorB LIBRARY DESTINATION ${SIMDEX_INSTALL_MODULEDIR})

  set_target_properties(simdex_platform PROPERTIES EXPORT_NAME platform)
  install(TARGETS simdex_platform EXPORT SimdexTargets
          ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
          INCLUDES DESTINATION ${SIMDEX_INSTALL_INCLUDEDIR})
  # Every platform header: the public ones include most of the others, and
  # the library they describe is installed whole.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/ DESTINATION ${SIMDEX_INSTALL_INCLUDEDIR}/platform
          FILES_MATCHING PATTERN "*.h" PATTERN "*_test.h" EXCLUDE)
  install(FILES ${PROJECT_SOURCE_DIR}/SimdexDLL/ISimdex.h
          DESTINATION ${SIMDEX_INSTALL_INCLUDEDIR}/SimdexDLL)

  install(EXPORT SimdexTargets NAMESPACE Simdex:: DESTINATION ${SIMDEX_INSTALL_CMAKEDIR})
  set(SIMDEX_INSTALL_EXECUTABLE ${CMAKE_INSTALL_BINDIR}/simdex)
  set(SIMDEX_INSTALL_REGISTER_EXECUTABLE ${CMAKE_INSTALL_BINDIR}/simdex-register)
  configure_package_config_file(
    ${PROJECT_SOURCE_DIR}/cmake/SimdexConfig.cmake.in
    ${PROJECT_BINARY_DIR}/SimdexConfig.cmake
    INSTALL_DESTINATION ${SIMDEX_INSTALL_CMAKEDIR}
    PATH_VARS SIMDEX_INSTALL_INCLUDEDIR SIMDEX_INSTALL_MODULEDIR SIMDEX_INSTALL_DATADIR
              SIMDEX_INSTALL_EXECUTABLE SIMDEX_INSTALL_REGISTER_EXECUTABLE)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/SimdexConfigVersion.cmake
                                   COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/SimdexConfig.cmake
                ${PROJECT_BINARY_DIR}/SimdexConfigVersion.cmake
          DESTINATION ${SIMDEX_INSTALL_CMAKEDIR})

  install(DIRECTORY ${PROJECT_SOURCE_DIR}/data/ DESTINATION ${SIMDEX_INSTALL_DATADIR})
endfunction()
