// The baseline kernel table: two lanes per SSE2 vector.
#include <emmintrin.h>

#include "lumetra/lanes_impl.h"

namespace lumetra::kernels {
namespace {

struct Sse2 {
  using V = __m128d;
  static constexpr int kWidth = 2;
  static V zero() noexcept { return _mm_setzero_pd(); }
  static V splat(double a) noexcept { return _mm_set1_pd(a); }
  static V add(V a, V b) noexcept { return _mm_add_pd(a, b); }
  static V mul(V a, V b) noexcept { return _mm_mul_pd(a, b); }
  // maxpd returns its second operand when either is NaN.
  static V max_skip(V v, V m) noexcept { return _mm_max_pd(v, m); }
  static V load(const double* p) noexcept { return _mm_loadu_pd(p); }
  static void store(double* p, V v) noexcept { _mm_storeu_pd(p, v); }
  static void load_transposed(const double* const* p, std::int64_t o, V* out) noexcept {
    const V a = _mm_loadu_pd(p[0] + o);
    const V b = _mm_loadu_pd(p[1] + o);
    out[0] = _mm_unpacklo_pd(a, b);
    out[1] = _mm_unpackhi_pd(a, b);
  }
  static V gather(const double* const* p, std::int64_t o) noexcept {
    return _mm_set_pd(p[1][o], p[0][o]);
  }
};

constexpr Table kTable = Lanes<Sse2>::table("sse2");

}  // namespace

const Table& sse2() noexcept {
  return kTable;
}

}  // namespace lumetra::kernels
