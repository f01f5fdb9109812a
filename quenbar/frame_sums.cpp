// Sums of squares of consecutive frames. Frames are independent of one
// another, so several are summed side by side, one SIMD lane per frame;
// within a frame the sum still runs from its first sample to its last in one
// accumulator, which keeps every bit of the straightforward loop. Indices
// count from 0.
#include "quenbar/frame_sums.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(QUENBAR_AVX2_KERNEL)
#endif

namespace quenbar {

void frame_sums_scalar(const double* g, const double* m, std::size_t len, std::size_t count,
                       double* gate_sums, double* measured_sums) noexcept {
  for (std::size_t j = 0; j < count; ++j) {
    const double* gj = g + j * len;
    const double* mj = m + j * len;
    // acc_g holds gj[0]^2 + ... + gj[k-1]^2, added left to right; acc_m likewise.
    double acc_g = gj[0] * gj[0];
    double acc_m = mj[0] * mj[0];
    for (std::size_t k = 1; k < len; ++k) {
      const double sg = gj[k] * gj[k];
      const double sm = mj[k] * mj[k];
      acc_g = acc_g + sg;
      acc_m = acc_m + sm;
    }
    gate_sums[j] = acc_g;
    measured_sums[j] = acc_m;
  }
}

#if defined(__SSE2__)
namespace {

// {a[k]^2, b[k]^2}: sample k of two frames, squared.
inline __m128d squares(const double* a, const double* b, std::size_t k) noexcept {
  const __m128d v = _mm_set_pd(b[k], a[k]);
  return _mm_mul_pd(v, v);
}

// acc + {a[0]^2, b[0]^2} + {a[1]^2, b[1]^2}, added in that order: two samples
// of two frames are loaded, squared and transposed so that each addition
// brings the next sample of both frames.
inline __m128d add_two_samples(__m128d acc, const double* a, const double* b) noexcept {
  __m128d ra = _mm_loadu_pd(a);
  __m128d rb = _mm_loadu_pd(b);
  ra = _mm_mul_pd(ra, ra);
  rb = _mm_mul_pd(rb, rb);
  acc = _mm_add_pd(acc, _mm_unpacklo_pd(ra, rb));
  return _mm_add_pd(acc, _mm_unpackhi_pd(ra, rb));
}

}  // namespace

void frame_sums_sse2(const double* g, const double* m, std::size_t len, std::size_t count,
                     double* gate_sums, double* measured_sums) noexcept {
  // Lane 0 walks frames 0 .. q-1 and lane 1 frames q .. 2q-1, each one
  // unbroken stream of each signal (which the processor's prefetcher
  // follows); an odd frame left over goes alone.
  const std::size_t q = count / 2;
  const std::size_t run = q * len;
  for (std::size_t f = 0; f < q; ++f) {
    const double* g0 = g + f * len;
    const double* g1 = g0 + run;
    const double* m0 = m + f * len;
    const double* m1 = m0 + run;
    // Lane i holds frame i*q + f's sum over samples 0 .. k-1.
    __m128d acc_g = squares(g0, g1, 0);
    __m128d acc_m = squares(m0, m1, 0);
    std::size_t k = 1;
    for (; k + 2 <= len; k += 2) {
      acc_g = add_two_samples(acc_g, g0 + k, g1 + k);
      acc_m = add_two_samples(acc_m, m0 + k, m1 + k);
    }
    for (; k < len; ++k) {
      acc_g = _mm_add_pd(acc_g, squares(g0, g1, k));
      acc_m = _mm_add_pd(acc_m, squares(m0, m1, k));
    }
    _mm_storel_pd(gate_sums + f, acc_g);
    _mm_storeh_pd(gate_sums + q + f, acc_g);
    _mm_storel_pd(measured_sums + f, acc_m);
    _mm_storeh_pd(measured_sums + q + f, acc_m);
  }
  const std::size_t done = 2 * q;
  frame_sums_scalar(g + done * len, m + done * len, len, count - done, gate_sums + done,
                    measured_sums + done);
}
#endif  // __SSE2__

}  // namespace quenbar
