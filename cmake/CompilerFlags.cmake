# Flags for everything the project compiles (am_flags) and, on top of them,
# for the code that goes into the libraries (am_library_flags).
#
# Results are fixed to the last bit by the order of IEEE double operations, so
# floating-point contraction is off everywhere and nothing may enable
# -ffast-math. Shipped code targets the x86-64 baseline; wider instruction sets
# are used only behind a run-time check, from files of their own.

add_library(am_flags INTERFACE)
target_compile_features(am_flags INTERFACE cxx_std_20)
set_target_properties(am_flags PROPERTIES INTERFACE_CXX_EXTENSIONS OFF)
target_compile_options(am_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow
  $<$<COMPILE_LANGUAGE:CXX>:-Wdouble-promotion>
  -ffp-contract=off)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  target_compile_options(am_flags INTERFACE -march=x86-64 -mtune=generic)
endif()
if(AM_WERROR)
  target_compile_options(am_flags INTERFACE -Werror)
endif()

add_library(am_library_flags INTERFACE)
target_link_libraries(am_library_flags INTERFACE am_flags)
target_include_directories(am_library_flags INTERFACE
  ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
target_compile_definitions(am_library_flags INTERFACE AM_BUILDING_LIBRARY)
target_compile_options(am_library_flags INTERFACE
  $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fvisibility-inlines-hidden>
  -fvisibility=hidden)

# Windows: programs and libraries carry their own copies of the compiler's
# runtime support (libgcc, libstdc++, winpthread), so that they import nothing
# but Windows system DLLs and run wherever they are copied.
if(MINGW)
  target_link_options(am_flags INTERFACE -static)
endif()

# The flags of the AVX2 kernels: am_avx2_sources.
include(${CMAKE_CURRENT_LIST_DIR}/SimdSources.cmake)
