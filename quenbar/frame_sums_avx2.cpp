// Sums of squares of four frames at a time with AVX2 (see frame_sums.h).
// Compiled with -mavx2 (never -mfma): only called where runtime::cpu_has_avx2() holds.
// This file includes nothing but intrinsics and the kernel declarations, so
// that no shared inline function is ever emitted here with AVX2 encodings.
// Indices count from 0.
#include <immintrin.h>

#include "quenbar/frame_sums.h"

namespace quenbar {
namespace {

// {a[k]^2, b[k]^2, c[k]^2, d[k]^2}: sample k of four frames, squared.
inline __m256d squares(const double* a, const double* b, const double* c, const double* d,
                       std::size_t k) noexcept {
  const __m256d v = _mm256_set_pd(d[k], c[k], b[k], a[k]);
  return _mm256_mul_pd(v, v);
}

// acc + column 0 + column 1 + column 2 + column 3, added in that order, where
// column i is {a[i]^2, b[i]^2, c[i]^2, d[i]^2}: four samples of four frames
// are loaded, squared and transposed so that each addition brings the next
// sample of every frame.
inline __m256d add_four_samples(__m256d acc, const double* a, const double* b, const double* c,
                                const double* d) noexcept {
  __m256d ra = _mm256_loadu_pd(a);
  __m256d rb = _mm256_loadu_pd(b);
  __m256d rc = _mm256_loadu_pd(c);
  __m256d rd = _mm256_loadu_pd(d);
  ra = _mm256_mul_pd(ra, ra);
  rb = _mm256_mul_pd(rb, rb);
  rc = _mm256_mul_pd(rc, rc);
  rd = _mm256_mul_pd(rd, rd);
  const __m256d ab_even = _mm256_unpacklo_pd(ra, rb);                        // a0 b0 a2 b2
  const __m256d ab_odd = _mm256_unpackhi_pd(ra, rb);                         // a1 b1 a3 b3
  const __m256d cd_even = _mm256_unpacklo_pd(rc, rd);                        // c0 d0 c2 d2
  const __m256d cd_odd = _mm256_unpackhi_pd(rc, rd);                         // c1 d1 c3 d3
  acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(ab_even, cd_even, 0x20));  // column 0
  acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(ab_odd, cd_odd, 0x20));    // column 1
  acc = _mm256_add_pd(acc, _mm256_permute2f128_pd(ab_even, cd_even, 0x31));  // column 2
  return _mm256_add_pd(acc, _mm256_permute2f128_pd(ab_odd, cd_odd, 0x31));   // column 3
}

}  // namespace

void frame_sums_avx2(const double* g, const double* m, std::size_t len, std::size_t count,
                     double* gate_sums, double* measured_sums) noexcept {
  // Lane i walks its own run of q consecutive frames, i*q .. i*q + q - 1, so
  // that each lane reads one unbroken stream of each signal (which the
  // processor's prefetcher follows); the frames left over go two at a time.
  const std::size_t q = count / 4;
  const std::size_t run = q * len;
  for (std::size_t f = 0; f < q; ++f) {
    const double* g0 = g + f * len;
    const double* g1 = g0 + run;
    const double* g2 = g1 + run;
    const double* g3 = g2 + run;
    const double* m0 = m + f * len;
    const double* m1 = m0 + run;
    const double* m2 = m1 + run;
    const double* m3 = m2 + run;
    // Lane i holds frame i*q + f's sum over samples 0 .. k-1.
    __m256d acc_g = squares(g0, g1, g2, g3, 0);
    __m256d acc_m = squares(m0, m1, m2, m3, 0);
    std::size_t k = 1;
    for (; k + 4 <= len; k += 4) {
      acc_g = add_four_samples(acc_g, g0 + k, g1 + k, g2 + k, g3 + k);
      acc_m = add_four_samples(acc_m, m0 + k, m1 + k, m2 + k, m3 + k);
    }
    for (; k < len; ++k) {
      acc_g = _mm256_add_pd(acc_g, squares(g0, g1, g2, g3, k));
      acc_m = _mm256_add_pd(acc_m, squares(m0, m1, m2, m3, k));
    }
    alignas(32) double lanes_g[4];
    alignas(32) double lanes_m[4];
    _mm256_store_pd(lanes_g, acc_g);
    _mm256_store_pd(lanes_m, acc_m);
    for (std::size_t i = 0; i < 4; ++i) {
      gate_sums[i * q + f] = lanes_g[i];
      measured_sums[i * q + f] = lanes_m[i];
    }
  }
  const std::size_t done = 4 * q;
  frame_sums_sse2(g + done * len, m + done * len, len, count - done, gate_sums + done,
                  measured_sums + done);
}

}  // namespace quenbar
