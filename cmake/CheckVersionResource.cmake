# cmake -DDLL=<lumetra.dll> -DWINDRES=<x86_64-w64-mingw32-windres> -DVERSION=<x.y.z>
#       -P CheckVersionResource.cmake
#
# Reads a DLL's version resource back (windres decompiles a PE file's
# resources to .rc text) and checks what Windows shows of it: FILEVERSION and
# PRODUCTVERSION x,y,z,0; FileVersion and ProductVersion "x.y.z";
# OriginalFilename the DLL's own name; a FileDescription; a LegalCopyright
# that names the licence.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${WINDRES} -i ${DLL} -O rc OUTPUT_VARIABLE rc RESULT_VARIABLE status
                ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${DLL}: windres cannot read its resources: ${error}")
endif()

set(errors)
string(REPLACE "." ", " numbers "${VERSION}")
foreach(field IN ITEMS FILEVERSION PRODUCTVERSION)
  if(NOT rc MATCHES "\n *${field} ${numbers}, 0\n")
    list(APPEND errors "${field} is not ${numbers}, 0")
  endif()
endforeach()

get_filename_component(file_name ${DLL} NAME)
set(want_FileVersion "^${VERSION}$")
set(want_ProductVersion "^${VERSION}$")
set(want_OriginalFilename "^${file_name}$")
set(want_FileDescription ".")
set(want_LegalCopyright "MIT")
foreach(key IN ITEMS FileVersion ProductVersion OriginalFilename FileDescription LegalCopyright)
  if(NOT rc MATCHES "VALUE \"${key}\", \"([^\"]*)\"")
    list(APPEND errors "no ${key}")
    continue()
  endif()
  set(value "${CMAKE_MATCH_1}")
  if(NOT value MATCHES "${want_${key}}")
    list(APPEND errors "${key} is \"${value}\"")
  endif()
endforeach()

if(errors)
  list(JOIN errors "\n  " text)
  message(FATAL_ERROR "${DLL}: version resource:\n  ${text}")
endif()
message(STATUS "${file_name}: version resource ${VERSION}")
