// Choice of the engine variant at run time.
#include "spectral/engine.h"

#include <cpuid.h>

namespace spectral {
namespace {

const Engine* g_engine = nullptr;  // chosen on first use: nothing runs at load time

alignas(64) double g_work[3][kWorkDoubles];
alignas(64) double g_cross[kBlock * kChunkDoubles];

}  // namespace

const WorkArrays& work_arrays() noexcept {
  static constexpr WorkArrays kArrays{{g_work[0], g_work[1], g_work[2]}, g_cross};
  return kArrays;
}

bool cpu_has_avx2() noexcept {
  unsigned a = 0;
  unsigned b = 0;
  unsigned c = 0;
  unsigned d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) {
    return false;
  }
  // The operating system must save the upper register halves (XCR0 bits 1, 2).
  unsigned xcr0_lo = 0;
  unsigned xcr0_hi = 0;
  __asm__ volatile("xgetbv" : "=a"(xcr0_lo), "=d"(xcr0_hi) : "c"(0));
  if ((xcr0_lo & 6u) != 6u) {
    return false;
  }
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) {
    return false;
  }
  return (b & bit_AVX2) != 0;
}

const Engine& engine() noexcept {
  if (g_engine == nullptr) {
    g_engine = cpu_has_avx2() ? &kEngineAvx2 : &kEngineSse2;
  }
  return *g_engine;
}

bool select_engine(Isa isa) noexcept {
  if (isa == Isa::kAvx2 && !cpu_has_avx2()) {
    return false;
  }
  g_engine = isa == Isa::kAvx2 ? &kEngineAvx2 : &kEngineSse2;
  return true;
}

}  // namespace spectral
