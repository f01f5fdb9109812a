// Choice of the kernel table at run time.
#include <cpuid.h>

#include <atomic>

#include "lumetra/kernels.h"

namespace lumetra::kernels {

extern const Table kAvx2Table;

namespace {

// AVX2 needs the instructions (CPUID leaf 7) and an operating system that
// saves the YMM registers (OSXSAVE, and XCR0 enabling the SSE and AVX state).
// Asked of the processor directly: the compiler's own feature test brings a
// constructor that would run when the library loads.
bool cpu_runs_avx2() noexcept {
  unsigned a = 0;
  unsigned b = 0;
  unsigned c = 0;
  unsigned d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) {
    return false;
  }
  unsigned xcr0_low = 0;
  unsigned xcr0_high = 0;
  __asm__("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
  if ((xcr0_low & 0x6u) != 0x6u) {
    return false;
  }
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) {
    return false;
  }
  return (b & bit_AVX2) != 0;
}

// 0: not asked yet, 1: no AVX2, 2: AVX2. Constant-initialised, so nothing
// runs at load time; a repeated first question gives the same answer.
std::atomic<int> g_avx2{0};

}  // namespace

const Table* avx2() noexcept {
  int known = g_avx2.load(std::memory_order_relaxed);
  if (known == 0) {
    known = cpu_runs_avx2() ? 2 : 1;
    g_avx2.store(known, std::memory_order_relaxed);
  }
  return known == 2 ? &kAvx2Table : nullptr;
}

const Table& best() noexcept {
  const Table* wide = avx2();
  return wide != nullptr ? *wide : sse2();
}

}  // namespace lumetra::kernels
