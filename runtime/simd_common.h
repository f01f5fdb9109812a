// What the instruction-set traits (simd_sse2.h, simd_avx2.h) share: the
// streaming stores' alignment test and fence, and the cache hints, which are
// the same SSE instructions for both. Internal linkage, as the traits.
#pragma once

#include <xmmintrin.h>

namespace runtime::simd {
namespace {

// kAlignment: the bytes a streaming store of one vector needs its address
// aligned to.
template <unsigned long long kAlignment>
struct CacheControl {
  // Streaming stores (past the caches) need an aligned address, and a fence
  // before the data is handed on.
  static bool stream_aligned(const double* p) noexcept {
    return (reinterpret_cast<unsigned long long>(p) & (kAlignment - 1)) == 0;
  }
  static void stream_fence() noexcept { _mm_sfence(); }

  static void prefetch(const double* p) noexcept {
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T0);
  }
  // Into the second-level cache only.
  static void prefetch_far(const double* p) noexcept {
    _mm_prefetch(reinterpret_cast<const char*>(p), _MM_HINT_T1);
  }
};

}  // namespace
}  // namespace runtime::simd
