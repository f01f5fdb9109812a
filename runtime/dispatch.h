// One way to pick an instruction set, for every subsystem with SIMD kernels.
//
// A subsystem's kernels form a table of function pointers. One template over
// the instruction-set traits (runtime/simd_sse2.h, runtime/simd_avx2.h)
// fills it, instantiated once per instruction set in a file of its own
// (*_sse2.cpp, *_avx2.cpp: only the AVX2 file is compiled with -mavx2). The
// subsystem hands out the table of the widest instruction set this machine
// runs (widest), and tests take every table that runs here (for_isa) and
// compare it with the reference path, through a parameter that takes a table.
//
// The inline functions here are for baseline code: an AVX2 file that called
// one would hold a copy the linker could pick for everyone (the instruction
// check rejects that).
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

// Of a subsystem's tables, one per instruction set: the widest this machine
// runs, and the one for isa (nullptr when this machine cannot run it).
template <class Table>
const Table& widest(const Table& sse2, const Table& avx2) noexcept {
  return widest_isa() == Isa::kAvx2 ? avx2 : sse2;
}
template <class Table>
const Table* for_isa(Isa isa, const Table& sse2, const Table& avx2) noexcept {
  if (!isa_runs(isa)) {
    return nullptr;
  }
  return isa == Isa::kAvx2 ? &avx2 : &sse2;
}

}  // namespace runtime
