// The scan for a non-finite sample runs over every sample a measurement
// uses, hundreds of megabytes for a long recording, so it looks at blocks
// at a time: a sample is NaN or infinite exactly when its product with 0.0
// is NaN, and the products of a block are combined by OR of the unordered
// comparisons (SSE2, the x86-64 baseline), with no branch per sample. Only
// a block that holds one is searched sample by sample.
#include "audiomeasure/non_finite.h"

#include <emmintrin.h>

#include <cmath>

namespace am {
namespace {

constexpr std::int64_t kBlock = 1024;  // samples judged at once

// True when x[0 .. n) holds a NaN or infinite value.
bool any_non_finite(const double* x, std::int64_t n) noexcept {
  const __m128d zero = _mm_setzero_pd();
  __m128d any = _mm_setzero_pd();
  std::int64_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128d a = _mm_mul_pd(_mm_loadu_pd(x + i), zero);
    const __m128d b = _mm_mul_pd(_mm_loadu_pd(x + i + 2), zero);
    any = _mm_or_pd(any, _mm_or_pd(_mm_cmpunord_pd(a, a), _mm_cmpunord_pd(b, b)));
  }
  bool found = _mm_movemask_pd(any) != 0;
  for (; i < n && !found; ++i) {
    found = !std::isfinite(x[i]);
  }
  return found;
}

}  // namespace

NonFinite first_non_finite(const double* x, std::int64_t n, std::int64_t offset) noexcept {
  for (std::int64_t start = 0; start < n; start += kBlock) {
    const std::int64_t count = n - start < kBlock ? n - start : kBlock;
    if (!any_non_finite(x + start, count)) {
      continue;
    }
    for (std::int64_t i = start; i < start + count; ++i) {
      if (!std::isfinite(x[i])) {
        return {offset + i, x[i]};
      }
    }
  }
  return {};
}

}  // namespace am
