// The heap as the robustness tests watch it: the C heap's bytes in use, and a
// fixture that leaves the libraries' allocation seam disarmed.
#pragma once

#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstddef>

#include "runtime/alloc.h"

namespace testing_support {

// Bytes the C heap has handed out and not taken back (0 where a sanitizer
// replaces the allocator, which then checks for leaks itself, and outside
// glibc). Blocks that glibc keeps in its per-thread caches count as in use,
// so the figure moves by a few hundred bytes without a leak: it bounds the
// growth (by kHeapSlack), and the seam's count of live blocks shows the
// libraries' own.
inline constexpr std::size_t kHeapSlack = 16384;
inline std::size_t heap_in_use() {
#if defined(__GLIBC__)
  return mallinfo2().uordblks;
#else
  return 0;
#endif
}

// Every test starts and ends with the seam disarmed, its count zero and no
// byte limit.
class DisarmedSeam : public ::testing::Test {
 protected:
  void SetUp() override { disarm(); }
  void TearDown() override { disarm(); }

 private:
  static void disarm() {
    runtime::alloc_seam::reset();
    runtime::alloc_seam::limit_bytes(0);
  }
};

}  // namespace testing_support
