// One way to pick an instruction set, for every subsystem with SIMD kernels.
//
// A subsystem's kernels form a table of function pointers. One template over
// the instruction-set traits (runtime/simd_sse2.h, runtime/simd_avx2.h)
// fills it, instantiated once per instruction set in a file of its own
// (*_sse2.cpp, *_avx2.cpp: only the AVX2 file is compiled with -mavx2). The
// subsystem hands out the table of the widest instruction set this machine
// runs, and tests take every table that runs here and compare it with the
// reference path, through a parameter that takes a table.
#pragma once

#include <cstdint>

#include "runtime/cpu.h"

namespace runtime {

enum class Isa : std::uint8_t {
  kSse2,  // the x86-64 baseline
  kAvx2,  // where the processor and the operating system support it
};
inline constexpr Isa kIsas[] = {Isa::kSse2, Isa::kAvx2};

constexpr const char* isa_name(Isa isa) noexcept {
  return isa == Isa::kAvx2 ? "avx2" : "sse2";
}

// Whether this machine runs code built for isa.
inline bool isa_runs(Isa isa) noexcept {
  return isa == Isa::kSse2 || cpu_has_avx2();
}

// The widest instruction set this machine runs. The processor is asked once;
// the answer is cached (cpu.h), with no code at load time.
inline Isa widest_isa() noexcept {
  return cpu_has_avx2() ? Isa::kAvx2 : Isa::kSse2;
}

// A subsystem's tables, one per instruction set.
template <class Table>
struct IsaTables {
  const Table& sse2;
  const Table& avx2;

  const Table& best() const noexcept { return widest_isa() == Isa::kAvx2 ? avx2 : sse2; }
  // The table for isa, or nullptr when this machine cannot run it.
  const Table* find(Isa isa) const noexcept {
    if (!isa_runs(isa)) {
      return nullptr;
    }
    return isa == Isa::kAvx2 ? &avx2 : &sse2;
  }
};

}  // namespace runtime
