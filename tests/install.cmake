# The installation, end to end (tests/install/CheckInstall.cmake): installs
# this build into a temporary prefix, registers the installed modules and
# builds and runs a client made with find_package(Simdex). Needs the whole
# build. Not in sanitizer builds: the installed library is instrumented, but
# the client is built without the sanitizer runtime and could not link it.
if(NOT SIMDEX_SANITIZE)
  add_test(NAME install.ClientBuildsAndSearchesWithTheInstalledPackage
           COMMAND ${CMAKE_COMMAND}
                   -DBUILD_DIR=${PROJECT_BINARY_DIR}
                   -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
                   -DCONFIG=$<CONFIG>
                   -DBINDIR=${CMAKE_INSTALL_BINDIR}
                   -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
                   -DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}
                   -DDATADIR=${CMAKE_INSTALL_DATADIR}
                   -DGENERATOR=${CMAKE_GENERATOR}
                   -DCXX_COMPILER=${CMAKE_CXX_COMPILER}
                   -DREADELF=${CMAKE_READELF}
                   -DCONSUMER_DIR=${CMAKE_CURRENT_LIST_DIR}/install/consumer
                   -P ${CMAKE_CURRENT_LIST_DIR}/install/CheckInstall.cmake)
  set_tests_properties(install.ClientBuildsAndSearchesWithTheInstalledPackage
                       PROPERTIES TIMEOUT 300)
endif()
