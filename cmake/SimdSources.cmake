# am_avx2_sources(<source>...)
#
# Marks sources of the calling directory as a library's AVX2 kernels, the
# one place where instruction-set flags are set. They are compiled with
# -mavx2 and nothing more: never -mfma, which would let the compiler fuse a
# product into a sum, rounding once where the results need the product and
# the sum rounded each by itself. Their code runs only behind the run-time
# check of runtime/dispatch.h. Each name ends in _avx2.cpp, which is how the
# instruction check (CheckInstructions.cmake) finds their objects.
#
# MinGW-w64's GCC keeps the Windows x64 stack 16-byte aligned and cannot
# realign it, so it may move a 256-bit register to or from a stack slot
# (a spill, an alignas(32) local) with an aligned move that faults there: for
# these sources the assembler turns every aligned vector move into an
# unaligned one (the same speed on aligned data).
function(am_avx2_sources)
  set(options -mavx2)
  if(MINGW)
    list(APPEND options -Wa,-muse-unaligned-vector-move)
  endif()
  foreach(source IN LISTS ARGN)
    if(NOT source MATCHES "_avx2\\.cpp$")
      message(FATAL_ERROR "am_avx2_sources: ${source}: AVX2 sources are named *_avx2.cpp")
    endif()
  endforeach()
  set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS "${options}")
endfunction()
