# cmake -DLIB=<shared object of the cores> -DLISTS=<export lists joined by '|'>
#       -DNM=<nm> -DOBJDUMP=<objdump> [-DSANITIZED=ON] -P CheckCores.cmake
#
# Checks a shared object linked from the libraries' cores only (no entry
# points, no export list), as a library for hosts links them: every name it
# exports is in all the export lists (the runtime's record API, which the
# libraries share) and is not "sum", which each library defines its own way
# beside its entry point; and its static storage (.bss and .data) stays
# under 1 MiB, so that a program linking it does not carry the libraries'
# large arrays. A sanitized build adds the sanitizers' own storage: there
# only the names are checked.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/MeasurementLibrary.cmake)

set(shared)
set(first ON)
string(REPLACE "|" ";" lists "${LISTS}")
foreach(list_file IN LISTS lists)
  am_read_export_list(${list_file} names data)
  if(first)
    set(shared ${names})
    set(first OFF)
  else()
    set(kept)
    foreach(sym IN LISTS shared)
      if(sym IN_LIST names)
        list(APPEND kept ${sym})
      endif()
    endforeach()
    set(shared ${kept})
  endif()
endforeach()
list(REMOVE_ITEM shared sum)

set(errors)
execute_process(COMMAND ${NM} -D --defined-only ${LIB} OUTPUT_VARIABLE dyn RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REPLACE "\n" ";" dyn_lines "${dyn}")
set(n_exported 0)
foreach(line IN LISTS dyn_lines)
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] ([^ @]+)")
    math(EXPR n_exported "${n_exported} + 1")
    if(NOT CMAKE_MATCH_1 IN_LIST shared AND NOT SANITIZED)
      list(APPEND errors "exports ${CMAKE_MATCH_1}, which is not the runtime's")
    endif()
  endif()
endforeach()
if(n_exported EQUAL 0)
  list(APPEND errors "exports nothing: not the runtime's record API either")
endif()

execute_process(COMMAND ${OBJDUMP} -h ${LIB} OUTPUT_VARIABLE sections)
set(static_bytes 0)
foreach(section IN ITEMS .bss .data)
  string(REPLACE "." "\\." pattern ${section})
  if(sections MATCHES " ${pattern} +([0-9a-fA-F]+)")
    math(EXPR static_bytes "${static_bytes} + 0x${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT SANITIZED AND static_bytes GREATER 1048576)
  list(APPEND errors "${static_bytes} bytes of static storage: a core holds a large array")
endif()

if(errors)
  list(JOIN errors "\n  " text)
  message(FATAL_ERROR "${LIB}:\n  ${text}")
endif()
message(STATUS "${LIB}: the runtime's names only, ${static_bytes} bytes of static storage")
