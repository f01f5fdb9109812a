// Four lanes of doubles in one AVX2 register. Included only by
// engine_avx2.cpp (compiled with -mavx2, never with -mfma); everything here
// has internal linkage so that no AVX2 code can stand in for baseline code.
#pragma once

#include <immintrin.h>

namespace spectral {
namespace {

struct Avx2 {
  using V = __m256d;

  static V load(const double* p) noexcept { return _mm256_loadu_pd(p); }
  static void store(double* p, V v) noexcept { _mm256_storeu_pd(p, v); }
  // With kStream, p must be stream_aligned.
  template <bool kStream>
  static void store(double* p, V v) noexcept {
    if constexpr (kStream) {
      _mm256_stream_pd(p, v);
    } else {
      _mm256_storeu_pd(p, v);
    }
  }
  static V zero() noexcept { return _mm256_setzero_pd(); }
  static V splat(double v) noexcept { return _mm256_set1_pd(v); }
  static V add(V a, V b) noexcept { return _mm256_add_pd(a, b); }
  static V sub(V a, V b) noexcept { return _mm256_sub_pd(a, b); }
  static V mul(V a, V b) noexcept { return _mm256_mul_pd(a, b); }
  // Flips every sign bit: exact negation, NaNs included.
  static V negate(V v) noexcept { return _mm256_xor_pd(v, _mm256_set1_pd(-0.0)); }
  // Lane 0 from b, lanes 1..3 from a.
  static V lane0_from(V a, V b) noexcept { return _mm256_blend_pd(a, b, 1); }

  // Rows a, b, c, d become columns: a = (a0, b0, c0, d0), b = (a1, b1, ...).
  static void transpose(V& a, V& b, V& c, V& d) noexcept {
    const V ab_even = _mm256_unpacklo_pd(a, b);  // a0 b0 a2 b2
    const V ab_odd = _mm256_unpackhi_pd(a, b);   // a1 b1 a3 b3
    const V cd_even = _mm256_unpacklo_pd(c, d);
    const V cd_odd = _mm256_unpackhi_pd(c, d);
    a = _mm256_permute2f128_pd(ab_even, cd_even, 0x20);
    b = _mm256_permute2f128_pd(ab_odd, cd_odd, 0x20);
    c = _mm256_permute2f128_pd(ab_even, cd_even, 0x31);
    d = _mm256_permute2f128_pd(ab_odd, cd_odd, 0x31);
  }

  // 4 interleaved complex values at p <-> their real and imaginary parts.
  static void load_interleaved(const double* p, V& re, V& im) noexcept {
    const V lo = _mm256_loadu_pd(p);      // r0 i0 r1 i1
    const V hi = _mm256_loadu_pd(p + 4);  // r2 i2 r3 i3
    re = _mm256_permute4x64_pd(_mm256_unpacklo_pd(lo, hi), 0xD8);
    im = _mm256_permute4x64_pd(_mm256_unpackhi_pd(lo, hi), 0xD8);
  }
  // With kStream, p must be stream_aligned.
  template <bool kStream>
  static void store_interleaved(double* p, V re, V im) noexcept {
    const V even = _mm256_unpacklo_pd(re, im);  // r0 i0 r2 i2
    const V odd = _mm256_unpackhi_pd(re, im);   // r1 i1 r3 i3
    const V lo = _mm256_permute2f128_pd(even, odd, 0x20);
    const V hi = _mm256_permute2f128_pd(even, odd, 0x31);
    if constexpr (kStream) {
      _mm256_stream_pd(p, lo);
      _mm256_stream_pd(p + 4, hi);
    } else {
      _mm256_storeu_pd(p, lo);
      _mm256_storeu_pd(p + 4, hi);
    }
  }

  // Streaming stores (past the caches) need 32-byte alignment, and a fence
  // before the data is handed on.
  static bool stream_aligned(const double* p) noexcept {
    return (reinterpret_cast<unsigned long long>(p) & 31u) == 0;
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
}  // namespace spectral
