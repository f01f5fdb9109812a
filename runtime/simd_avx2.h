// Instruction-set traits of AVX2: the operations the kernel templates of
// spectral/, lumetra/ and quenbar/ are written in. Included only by the
// *_avx2.cpp files, which alone are compiled with -mavx2 (never -mfma: each
// product is rounded before it is added) and run only after the processor
// and the operating system were found to support AVX2.
//
// Everything here has internal linkage: a function shared with baseline code
// (an inline function, a template instance of vague linkage) could be merged
// by the linker into its AVX2 copy and then run on a processor without AVX2.
// The instruction check of the build (cmake/CheckInstructions.cmake) rejects
// any such symbol in an AVX2 object.
//
// Avx2 works on one register of kWidth = 4 lanes; Avx2::Quad, the four-lane
// view that Sse2 builds from two registers, is the same register here.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "runtime/dispatch.h"
#include "runtime/simd_common.h"

namespace runtime::simd {
namespace {

struct Avx2 : CacheControl<32> {
  static constexpr Isa kIsa = Isa::kAvx2;
  using V = __m256d;
  static constexpr int kWidth = 4;
  using Quad = Avx2;

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
  // The larger of v and m; m when either is NaN (vmaxpd returns its second
  // source then), so a running maximum m skips NaN values.
  static V max_skip(V v, V m) noexcept { return _mm256_max_pd(v, m); }

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
  // out[t] holds p[l][o + t] in lane l, t < kWidth: kWidth rows, transposed.
  static void load_transposed(const double* const* p, std::int64_t o, V* out) noexcept {
    const V r0 = _mm256_loadu_pd(p[0] + o);
    const V r1 = _mm256_loadu_pd(p[1] + o);
    const V r2 = _mm256_loadu_pd(p[2] + o);
    const V r3 = _mm256_loadu_pd(p[3] + o);
    const V t0 = _mm256_unpacklo_pd(r0, r1);  // r0[0] r1[0] r0[2] r1[2]
    const V t1 = _mm256_unpackhi_pd(r0, r1);  // r0[1] r1[1] r0[3] r1[3]
    const V t2 = _mm256_unpacklo_pd(r2, r3);
    const V t3 = _mm256_unpackhi_pd(r2, r3);
    out[0] = _mm256_permute2f128_pd(t0, t2, 0x20);
    out[1] = _mm256_permute2f128_pd(t1, t3, 0x20);
    out[2] = _mm256_permute2f128_pd(t0, t2, 0x31);
    out[3] = _mm256_permute2f128_pd(t1, t3, 0x31);
  }
  // p[l][o] in lane l.
  static V gather(const double* const* p, std::int64_t o) noexcept {
    return _mm256_set_pd(p[3][o], p[2][o], p[1][o], p[0][o]);
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
};

}  // namespace
}  // namespace runtime::simd
