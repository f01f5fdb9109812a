# am_require_test_dependency(<group> <what> <debian packages> <condition>...)
#
# A group of tests that needs something the build machine may lack. The
# caller has looked for it; <condition> (as if() takes it, evaluated here)
# says whether it was found. When it holds, nothing happens. When it does
# not, the group cannot be built:
#   - in continuous integration (CI=true in the environment at configure
#     time) the configuration fails with one line naming the packages;
#   - elsewhere the group is left out, with a warning here and a test named
#     <group>.missing that CTest counts among the skipped and that prints
#     the same line, so that the gap shows in every test run.
# The caller tests <condition> again to decide whether to add the group.
function(am_require_test_dependency group what packages)
  if(${ARGN})
    return()
  endif()
  set(line "${group} tests need ${what}: install the Debian package(s) ${packages}")
  if("$ENV{CI}" STREQUAL "true")
    message(FATAL_ERROR "${line}")
  endif()
  message(WARNING "${line}; the group is left out")
  add_test(NAME ${group}.missing COMMAND ${CMAKE_COMMAND} -E echo "not applicable here: ${line}")
  set_tests_properties(${group}.missing PROPERTIES SKIP_REGULAR_EXPRESSION "not applicable here")
endfunction()
