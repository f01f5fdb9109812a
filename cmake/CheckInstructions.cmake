# cmake -DLIB=<shared library> -DOBJECTS=<object files joined by '|'>
#       -DNM=<nm> -DOBJDUMP=<objdump> -P CheckInstructions.cmake
#
# Checks what the compiler made of the floating-point code: no fused
# multiply-add anywhere in the library (each product must be rounded before it
# is added), and, in the AVX2 object among OBJECTS, no symbol that the linker
# could pick in place of a baseline copy (no global or weak functions): all of
# its code stays behind the run-time check.
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
set(avx2_object)
foreach(obj IN LISTS objects)
  if(obj MATCHES "engine_avx2")
    set(avx2_object ${obj})
  endif()
endforeach()
if(NOT avx2_object)
  list(APPEND errors "no AVX2 object among the spectral objects")
else()
  execute_process(COMMAND ${NM} --defined-only ${avx2_object}
    OUTPUT_VARIABLE syms RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${avx2_object}")
  endif()
  string(REPLACE "\n" ";" lines "${syms}")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[0-9a-fA-F]* *([TWVuiw]) (.+)$")
      list(APPEND errors "AVX2 object defines ${CMAKE_MATCH_2} (${CMAKE_MATCH_1}): code with vague or global linkage")
    endif()
  endforeach()
endif()

if(errors)
  list(JOIN errors "\n  " text)
  message(FATAL_ERROR "${LIB}:\n  ${text}")
endif()
message(STATUS "${LIB}: no fused multiply-add; AVX2 code only behind its run-time check")
