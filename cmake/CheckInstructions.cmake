# cmake -DLIB=<shared library> -DOBJECTS=<object files joined by '|'>
#       -DNM=<nm> -DOBJDUMP=<objdump> -P CheckInstructions.cmake
#
# Checks what the compiler made of the floating-point code: no fused
# multiply-add anywhere in the library (each product must be rounded before it
# is added), and, in every AVX2 object among OBJECTS (a file name with
# "avx2"), no symbol of vague linkage (inline functions, templates) that the
# linker could pick in place of a baseline copy: all AVX2 code stays behind
# the run-time check. An AVX2 object's own named entry points are allowed.
cmake_minimum_required(VERSION 3.25)
set(errors)

execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${LIB}
  OUTPUT_VARIABLE code RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIB}")
endif()
string(REGEX MATCHALL "[ \t]v?fn?m(add|sub)[a-z0-9]*" fused "${code}")
list(LENGTH fused n_fused)
if(n_fused GREATER 0)
  list(GET fused 0 first)
  list(APPEND errors "${n_fused} fused multiply-add instructions, e.g.${first}")
endif()

string(REPLACE "|" ";" objects "${OBJECTS}")
set(avx2_objects)
foreach(obj IN LISTS objects)
  get_filename_component(obj_name ${obj} NAME)
  if(obj_name MATCHES "avx2")
    list(APPEND avx2_objects ${obj})
  endif()
endforeach()
if(NOT avx2_objects)
  list(APPEND errors "no AVX2 object among the library's objects")
endif()
foreach(obj IN LISTS avx2_objects)
  execute_process(COMMAND ${NM} --defined-only ${obj}
    OUTPUT_VARIABLE syms RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${obj}")
  endif()
  string(REPLACE "\n" ";" lines "${syms}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F]* *([WVuiw]) (.+)$")
      list(APPEND errors "${obj} defines ${CMAKE_MATCH_2} (${CMAKE_MATCH_1}): vague linkage")
    endif()
  endforeach()
endforeach()

if(errors)
  list(JOIN errors "\n  " text)
  message(FATAL_ERROR "${LIB}:\n  ${text}")
endif()
message(STATUS "${LIB}: no fused multiply-add; AVX2 code only behind its run-time check")
