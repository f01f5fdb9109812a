// Instruction-set traits of the x86-64 baseline, SSE2: the operations the
// kernel templates of spectral/, lumetra/ and quenbar/ are written in.
// Included only by the *_sse2.cpp files that instantiate those templates;
// everything here has internal linkage (see simd_avx2.h for why).
//
// Sse2 works on one register of kWidth = 2 lanes. Sse2::Quad works on four
// lanes held in two registers, for kernels written for four lanes (the
// transforms); Avx2 has the same two views with one register for both.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "runtime/dispatch.h"
#include "runtime/simd_common.h"

namespace runtime::simd {
namespace {

struct Sse2 {
  static constexpr Isa kIsa = Isa::kSse2;
  using V = __m128d;
  static constexpr int kWidth = 2;

  static V zero() noexcept { return _mm_setzero_pd(); }
  static V splat(double a) noexcept { return _mm_set1_pd(a); }
  static V add(V a, V b) noexcept { return _mm_add_pd(a, b); }
  static V mul(V a, V b) noexcept { return _mm_mul_pd(a, b); }
  // The larger of v and m; m when either is NaN (maxpd returns its second
  // operand then), so a running maximum m skips NaN values.
  static V max_skip(V v, V m) noexcept { return _mm_max_pd(v, m); }
  static V load(const double* p) noexcept { return _mm_loadu_pd(p); }
  static void store(double* p, V v) noexcept { _mm_storeu_pd(p, v); }
  // out[t] holds p[l][o + t] in lane l, t < kWidth: kWidth rows, transposed.
  static void load_transposed(const double* const* p, std::int64_t o, V* out) noexcept {
    const V a = _mm_loadu_pd(p[0] + o);
    const V b = _mm_loadu_pd(p[1] + o);
    out[0] = _mm_unpacklo_pd(a, b);
    out[1] = _mm_unpackhi_pd(a, b);
  }
  // p[l][o] in lane l.
  static V gather(const double* const* p, std::int64_t o) noexcept {
    return _mm_set_pd(p[1][o], p[0][o]);
  }

  // Four lanes of doubles as two SSE2 registers.
  struct Quad : CacheControl<16> {
    struct V {
      __m128d lo;  // lanes 0, 1
      __m128d hi;  // lanes 2, 3
    };

    static V load(const double* p) noexcept { return {_mm_loadu_pd(p), _mm_loadu_pd(p + 2)}; }
    static void store(double* p, V v) noexcept {
      _mm_storeu_pd(p, v.lo);
      _mm_storeu_pd(p + 2, v.hi);
    }
    // With kStream, p must be stream_aligned.
    template <bool kStream>
    static void store(double* p, V v) noexcept {
      if constexpr (kStream) {
        _mm_stream_pd(p, v.lo);
        _mm_stream_pd(p + 2, v.hi);
      } else {
        store(p, v);
      }
    }
    static V zero() noexcept { return {_mm_setzero_pd(), _mm_setzero_pd()}; }
    static V splat(double v) noexcept { return {_mm_set1_pd(v), _mm_set1_pd(v)}; }
    static V add(V a, V b) noexcept { return {_mm_add_pd(a.lo, b.lo), _mm_add_pd(a.hi, b.hi)}; }
    static V sub(V a, V b) noexcept { return {_mm_sub_pd(a.lo, b.lo), _mm_sub_pd(a.hi, b.hi)}; }
    static V mul(V a, V b) noexcept { return {_mm_mul_pd(a.lo, b.lo), _mm_mul_pd(a.hi, b.hi)}; }
    // Flips every sign bit: exact negation, NaNs included.
    static V negate(V v) noexcept {
      const __m128d sign = _mm_set1_pd(-0.0);
      return {_mm_xor_pd(v.lo, sign), _mm_xor_pd(v.hi, sign)};
    }
    // Lane 0 from b, lanes 1..3 from a.
    static V lane0_from(V a, V b) noexcept { return {_mm_move_sd(a.lo, b.lo), a.hi}; }

    // Rows a, b, c, d become columns: a = (a0, b0, c0, d0), b = (a1, b1, ...).
    static void transpose(V& a, V& b, V& c, V& d) noexcept {
      const V a2{_mm_unpacklo_pd(a.lo, b.lo), _mm_unpacklo_pd(c.lo, d.lo)};
      const V b2{_mm_unpackhi_pd(a.lo, b.lo), _mm_unpackhi_pd(c.lo, d.lo)};
      const V c2{_mm_unpacklo_pd(a.hi, b.hi), _mm_unpacklo_pd(c.hi, d.hi)};
      const V d2{_mm_unpackhi_pd(a.hi, b.hi), _mm_unpackhi_pd(c.hi, d.hi)};
      a = a2;
      b = b2;
      c = c2;
      d = d2;
    }

    // 4 interleaved complex values at p <-> their real and imaginary parts.
    static void load_interleaved(const double* p, V& re, V& im) noexcept {
      const __m128d c0 = _mm_loadu_pd(p);
      const __m128d c1 = _mm_loadu_pd(p + 2);
      const __m128d c2 = _mm_loadu_pd(p + 4);
      const __m128d c3 = _mm_loadu_pd(p + 6);
      re = {_mm_unpacklo_pd(c0, c1), _mm_unpacklo_pd(c2, c3)};
      im = {_mm_unpackhi_pd(c0, c1), _mm_unpackhi_pd(c2, c3)};
    }
    // With kStream, p must be stream_aligned.
    template <bool kStream>
    static void store_interleaved(double* p, V re, V im) noexcept {
      const __m128d c[4] = {_mm_unpacklo_pd(re.lo, im.lo), _mm_unpackhi_pd(re.lo, im.lo),
                            _mm_unpacklo_pd(re.hi, im.hi), _mm_unpackhi_pd(re.hi, im.hi)};
      for (int u = 0; u < 4; ++u) {
        if constexpr (kStream) {
          _mm_stream_pd(p + 2 * u, c[u]);
        } else {
          _mm_storeu_pd(p + 2 * u, c[u]);
        }
      }
    }
  };
};

}  // namespace
}  // namespace runtime::simd
