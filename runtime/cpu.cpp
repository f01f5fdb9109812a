#include "runtime/cpu.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace runtime {
namespace {

bool ask_avx2() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0;
  unsigned b = 0;
  unsigned c = 0;
  unsigned d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) {
    return false;
  }
  unsigned xcr0_low = 0;
  unsigned xcr0_high = 0;
  __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
  if ((xcr0_low & 0x6u) != 0x6u) {
    return false;
  }
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) {
    return false;
  }
  return (b & bit_AVX2) != 0;
#else
  return false;
#endif
}

// 0: not asked yet, 1: no AVX2, 2: AVX2. Constant-initialised, so nothing
// runs at load time; concurrent first questions store the same answer.
std::atomic<int> g_avx2{0};

}  // namespace

bool cpu_has_avx2() noexcept {
  int known = g_avx2.load(std::memory_order_relaxed);
  if (known == 0) {
    known = ask_avx2() ? 2 : 1;
    g_avx2.store(known, std::memory_order_relaxed);
  }
  return known == 2;
}

}  // namespace runtime
