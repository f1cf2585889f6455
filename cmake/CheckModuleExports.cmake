# cmake -DNM=nm -DMODULE=path -P CheckModuleExports.cmake
# Fails unless MODULE's dynamic symbol table defines exactly the four
# component entry points.
execute_process(COMMAND ${NM} -D --defined-only ${MODULE}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(names)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(expected "DllCanUnloadNow;DllGetClassObject;DllRegisterServer;DllUnregisterServer")
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "${MODULE} exports [${names}], expected [${expected}]")
endif()
