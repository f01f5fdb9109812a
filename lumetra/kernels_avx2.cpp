// The AVX2 kernel table: four lanes per vector. This file alone is compiled
// with -mavx2 (never -mfma); kernels.cpp hands its table out only after it
// has checked that the processor and the operating system support AVX2.
#include <immintrin.h>

#include "lumetra/lanes_impl.h"

namespace lumetra::kernels {
namespace {

struct Avx2 {
  using V = __m256d;
  static constexpr int kWidth = 4;
  static V zero() noexcept { return _mm256_setzero_pd(); }
  static V splat(double a) noexcept { return _mm256_set1_pd(a); }
  static V add(V a, V b) noexcept { return _mm256_add_pd(a, b); }
  static V mul(V a, V b) noexcept { return _mm256_mul_pd(a, b); }
  // vmaxpd returns its second source when either is NaN.
  static V max_skip(V v, V m) noexcept { return _mm256_max_pd(v, m); }
  static V load(const double* p) noexcept { return _mm256_loadu_pd(p); }
  static void store(double* p, V v) noexcept { _mm256_storeu_pd(p, v); }
  // A 4 x 4 transpose: out[t] = (p[0][o + t], p[1][o + t], p[2][o + t], p[3][o + t]).
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
  static V gather(const double* const* p, std::int64_t o) noexcept {
    return _mm256_set_pd(p[3][o], p[2][o], p[1][o], p[0][o]);
  }
};

}  // namespace

extern const Table kAvx2Table;
constinit const Table kAvx2Table = Lanes<Avx2>::table("avx2");

}  // namespace lumetra::kernels
