# cmake -DLIB=<shared library> -DLIST=<export list> -DNM=<nm> -DOBJDUMP=<objdump>
#       [-DSANITIZED=ON] -P CheckExports.cmake
#
# Compares the dynamic symbols a built library defines with its export list,
# in both directions, checks that variables are exported as data and functions
# as code, that the library needs nothing but the C and math libraries, and
# that nothing runs at load time (no global constructors). A sanitizer build
# (SANITIZED) may also need the sanitizers' runtime libraries.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/MeasurementLibrary.cmake)
am_read_export_list(${LIST} want data)

execute_process(COMMAND ${NM} -D --defined-only ${LIB}
  OUTPUT_VARIABLE dyn RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REPLACE "\n" ";" dyn_lines "${dyn}")
set(have)
set(errors)
foreach(line IN LISTS dyn_lines)
  if(line MATCHES "^[0-9a-fA-F]* *([A-Za-z]) ([^ @]+)")
    set(kind ${CMAKE_MATCH_1})
    set(sym ${CMAKE_MATCH_2})
    list(APPEND have ${sym})
    if(sym IN_LIST data AND NOT kind MATCHES "^[BDbd]$")
      list(APPEND errors "${sym} is in the list as DATA but exported as '${kind}'")
    elseif(NOT sym IN_LIST data AND sym IN_LIST want AND NOT kind STREQUAL "T")
      list(APPEND errors "${sym} is a function in the list but exported as '${kind}'")
    endif()
  endif()
endforeach()
foreach(sym IN LISTS want)
  if(NOT sym IN_LIST have)
    list(APPEND errors "missing export: ${sym}")
  endif()
endforeach()
foreach(sym IN LISTS have)
  if(NOT sym IN_LIST want)
    list(APPEND errors "unlisted export: ${sym}")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${LIB} OUTPUT_VARIABLE headers)
string(REGEX MATCHALL "NEEDED +[^\n]+" needed "${headers}")
foreach(entry IN LISTS needed)
  string(REGEX REPLACE "NEEDED +" "" lib "${entry}")
  if(SANITIZED AND lib MATCHES "^lib(asan|ubsan)\\.so\\.[0-9]+$")
    continue()
  endif()
  if(NOT lib MATCHES "^(libc|libm)\\.so\\.[0-9]+$")
    list(APPEND errors "depends on ${lib}: only the C and math libraries are allowed")
  endif()
endforeach()

execute_process(COMMAND ${NM} ${LIB} OUTPUT_VARIABLE all_syms ERROR_QUIET)
if(all_syms MATCHES "_GLOBAL__sub_I")
  list(APPEND errors "the library has global constructors: code would run at load time")
endif()

list(LENGTH want n_want)
if(errors)
  list(JOIN errors "\n  " text)
  message(FATAL_ERROR "${LIB}:\n  ${text}")
endif()
message(STATUS "${LIB}: exports exactly the ${n_want} listed names")
