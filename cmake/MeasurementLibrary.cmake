# am_add_library(<name> EXPORTS <list> [DESCRIPTION <text>] SOURCES <src>...
#                ENTRY <src>... [OBJECTS <object-lib>...])
#
# Builds one measurement library the same way for every library:
#   <name>_objects  its core: the internal C++ of SOURCES, compiled once (PIC,
#                   hidden), with no exported function and no large static
#                   array, so that another library can link the cores of
#                   several (runtime, spectral, lumetra, quenbar) side by side
#   <name>_entry    its exported entry points (ENTRY): the extern "C"
#                   wrappers and the static buffers they use
#   <name>_core     static library of both plus the shared object libraries
#                   (runtime, spectral): what tests and host tools link
#   <name>          the shared library, exporting exactly the names of <list>
#
# The export list is the single source of truth: one name per line, "DATA"
# after a variable's name, '#' starts a comment. It becomes a version script
# (global: ...; local: *;) on Linux and a module-definition file on Windows.
#
# Versions: the shared object is lib<name>.so.<project version> with the
# SONAME lib<name>.so.<AM_ABI_VERSION>; a DLL carries a version resource
# (FileVersion, ProductVersion, FileDescription = DESCRIPTION, ...) made from
# version.rc.in. Installed, the library joins the export set
# audiomeasureTargets (the CMake package): the shared object or DLL in the
# component "runtime", its import library and link-time name in
# "development".

include(GNUInstallDirs)

function(am_read_export_list list_file out_names out_data)
  file(STRINGS ${list_file} lines)
  set(names)
  set(data)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*$" "" line "${line}")
    string(STRIP "${line}" line)
    if(line STREQUAL "")
      continue()
    endif()
    if(line MATCHES "^([A-Za-z_][A-Za-z0-9_]*)( +DATA)?$")
      list(APPEND names ${CMAKE_MATCH_1})
      if(CMAKE_MATCH_2)
        list(APPEND data ${CMAKE_MATCH_1})
      endif()
    else()
      message(FATAL_ERROR "${list_file}: cannot read export line '${line}'")
    endif()
  endforeach()
  set(${out_names} ${names} PARENT_SCOPE)
  set(${out_data} ${data} PARENT_SCOPE)
endfunction()

function(am_add_library name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "EXPORTS;DESCRIPTION" "SOURCES;ENTRY;OBJECTS")
  if(NOT ARG_DESCRIPTION)
    set(ARG_DESCRIPTION "${name} measurement library")
  endif()
  get_filename_component(list_file ${ARG_EXPORTS} ABSOLUTE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list_file})
  am_read_export_list(${list_file} names data)

  foreach(part IN ITEMS objects entry)
    if(part STREQUAL "objects")
      add_library(${name}_${part} OBJECT ${ARG_SOURCES})
    else()
      add_library(${name}_${part} OBJECT ${ARG_ENTRY})
    endif()
    target_link_libraries(${name}_${part} PRIVATE am_library_flags)
    set_target_properties(${name}_${part} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endforeach()

  set(objects $<TARGET_OBJECTS:${name}_objects> $<TARGET_OBJECTS:${name}_entry>)
  foreach(lib IN LISTS ARG_OBJECTS)
    list(APPEND objects $<TARGET_OBJECTS:${lib}>)
  endforeach()

  add_library(${name}_core STATIC ${objects})
  target_include_directories(${name}_core INTERFACE
    ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name}_core INTERFACE AM_STATIC)
  target_link_libraries(${name}_core INTERFACE am_flags)
  if(NOT WIN32)
    target_link_libraries(${name}_core INTERFACE m)
  endif()

  add_library(${name} SHARED ${objects})
  target_include_directories(${name} INTERFACE
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  set_target_properties(${name} PROPERTIES LINKER_LANGUAGE CXX
    VERSION ${PROJECT_VERSION} SOVERSION ${AM_ABI_VERSION})
  set_property(TARGET ${name} PROPERTY AM_EXPORT_LIST ${list_file})

  if(WIN32)
    set(def "LIBRARY ${name}\nEXPORTS\n")
    foreach(sym IN LISTS names)
      if(sym IN_LIST data)
        string(APPEND def "  ${sym} DATA\n")
      else()
        string(APPEND def "  ${sym}\n")
      endif()
    endforeach()
    file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${name}.def CONTENT "${def}")
    target_sources(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}.def)
    # The version resource: what Explorer's file properties and installers read.
    set(AM_RC_NAME ${name})
    set(AM_RC_DESCRIPTION "${ARG_DESCRIPTION}")
    configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/version.rc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc @ONLY)
    target_sources(${name} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${name}_version.rc)
    set_target_properties(${name} PROPERTIES PREFIX "")
    target_link_options(${name} PRIVATE -static-libgcc -static-libstdc++ -static)
    # Hosts built with other toolchains make their import library from it.
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.def DESTINATION ${CMAKE_INSTALL_LIBDIR}
            COMPONENT development)
  else()
    set(map "{\n  global:\n")
    foreach(sym IN LISTS names)
      string(APPEND map "    ${sym};\n")
    endforeach()
    string(APPEND map "  local:\n    *;\n};\n")
    set(map_file ${CMAKE_CURRENT_BINARY_DIR}/${name}.map)
    file(CONFIGURE OUTPUT ${map_file} CONTENT "${map}")
    # Calls inside the library bind to its own functions (a host's function of
    # the same name, say "sum", cannot interpose); variables stay interposable
    # so that a host's copy of rtInf and the library's are one.
    target_link_options(${name} PRIVATE
      -Wl,--version-script=${map_file} -Wl,-Bsymbolic-functions -Wl,--as-needed
      -Wl,-z,defs -static-libgcc -static-libstdc++)
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${map_file})
    target_link_libraries(${name} PRIVATE m)
  endif()

  # Installed layout: DLLs in bin/, import libraries (Windows) and shared
  # objects with their SONAME and link-time names (Linux) in lib/, the public
  # headers in include/.
  install(TARGETS ${name} EXPORT audiomeasureTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
            NAMELINK_COMPONENT development
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
endfunction()
