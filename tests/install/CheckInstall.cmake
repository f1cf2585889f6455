# cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DCONFIG=... -DBINDIR=... -DLIBDIR=...
#       -DINCLUDEDIR=... -DDATADIR=... -DGENERATOR=... -DCXX_COMPILER=...
#       -DREADELF=... -DCONSUMER_DIR=... -P CheckInstall.cmake
#
# Installs BUILD_DIR into a fresh prefix under the temporary directory and
# checks that the installation stands on its own: the expected files, no
# search path or library of the build in the installed binaries, no build or
# source path in the installed text files, modules that register from their
# installed place, and a client built with find_package(Simdex) that creates
# an index, inserts and searches through the installed modules. The prefix is
# removed on success and kept on failure.

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}\n(installation left in ${prefix})")
endfunction()

# Runs a command; fails with its output unless it exits with 0.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    string(JOIN " " cmd ${ARGN})
    fail("${cmd}\nexited with ${rc}\n${out}${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(tmp "$ENV{TMPDIR}")
if(NOT tmp)
  set(tmp /tmp)
endif()
string(RANDOM LENGTH 10 suffix)
set(prefix ${tmp}/simdex-install-${suffix})
file(REMOVE_RECURSE ${prefix})
file(MAKE_DIRECTORY ${prefix})
# The modules register their resolved paths.
file(REAL_PATH ${prefix} prefix)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix} --config ${CONFIG})

set(module_dir ${prefix}/${LIBDIR}/simdex)
set(modules ${module_dir}/SimdexDLL.so ${module_dir}/VectorA.so ${module_dir}/VectorB.so)
set(programs ${prefix}/${BINDIR}/simdex ${prefix}/${BINDIR}/simdex-register)
foreach(file IN LISTS programs modules ITEMS
        ${prefix}/${LIBDIR}/libsimdex_platform.a
        ${prefix}/${INCLUDEDIR}/simdex/SimdexDLL/ISimdex.h
        ${prefix}/${INCLUDEDIR}/simdex/platform/IMTobject.h
        ${prefix}/${LIBDIR}/cmake/Simdex/SimdexConfig.cmake
        ${prefix}/${LIBDIR}/cmake/Simdex/SimdexConfigVersion.cmake
        ${prefix}/${DATADIR}/simdex/data/README.md
        ${prefix}/${DATADIR}/simdex/data/hist45-small.fvecs)
  if(NOT EXISTS ${file})
    fail("not installed: ${file}")
  endif()
endforeach()
file(GLOB_RECURSE test_headers ${prefix}/*_test.h)
if(test_headers)
  fail("test headers installed: ${test_headers}")
endif()

# The modules are self-contained and the programs need only system
# libraries: no run-time search path, no library of ours.
foreach(binary IN LISTS programs modules)
  run(${READELF} -d ${binary})
  if(run_output MATCHES "R(UN)?PATH")
    fail("${binary} has a library search path:\n${run_output}")
  endif()
  if(run_output MATCHES "NEEDED[^\n]*(simdex|Simdex|Vector)")
    fail("${binary} needs a library of this project:\n${run_output}")
  endif()
endforeach()
file(GLOB_RECURSE text_files ${prefix}/*.cmake ${prefix}/*.h ${prefix}/*.md)
foreach(file IN LISTS text_files)
  file(READ ${file} text)
  foreach(dir IN ITEMS ${BUILD_DIR} ${SOURCE_DIR})
    string(FIND "${text}" "${dir}" at)
    if(NOT at EQUAL -1)
      fail("${file} names ${dir}")
    endif()
  endforeach()
endforeach()

# Registration: simdex-register with the installed modules, and the simdex
# command on its own when it has a register subcommand.
set(registries ${prefix}/registry-by-simdex-register.txt)
run(${prefix}/${BINDIR}/simdex-register --registry ${registries} register ${modules})
run(${prefix}/${BINDIR}/simdex --help)
if(run_output MATCHES "\n +register[ \n]")
  list(APPEND registries ${prefix}/registry-by-simdex.txt)
  run(${prefix}/${BINDIR}/simdex --registry ${prefix}/registry-by-simdex.txt register)
endif()
foreach(registry IN LISTS registries)
  file(READ ${registry} text)
  foreach(module IN LISTS modules)
    string(FIND "${text}" "\"${module}\"" at)
    if(at EQUAL -1)
      fail("${registry} does not register ${module}:\n${text}")
    endif()
  endforeach()
  string(REGEX MATCHALL "\"/[^\"]*\"" paths "${text}")
  foreach(path IN LISTS paths)
    string(FIND "${path}" "\"${prefix}/" at)
    if(NOT at EQUAL 0)
      fail("${registry} names ${path}, outside the installation")
    endif()
  endforeach()
endforeach()

# A client built against the installed package alone.
set(consumer_build ${prefix}/consumer-build)
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${consumer_build} -G ${GENERATOR}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
    -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF)
file(STRINGS ${consumer_build}/CMakeCache.txt found REGEX "^Simdex_DIR:")
if(NOT found STREQUAL "Simdex_DIR:PATH=${prefix}/${LIBDIR}/cmake/Simdex")
  fail("the client found another Simdex: ${found}")
endif()
run(${CMAKE_COMMAND} --build ${consumer_build})
foreach(registry IN LISTS registries)
  get_filename_component(name ${registry} NAME_WE)
  set(index ${prefix}/index-${name})
  file(MAKE_DIRECTORY ${index})
  run(${CMAKE_COMMAND} -E env SIMDEX_REGISTRY=${registry} ${consumer_build}/client ${index})
  message(STATUS "with ${name}: ${run_output}")
endforeach()

file(REMOVE_RECURSE ${prefix})
