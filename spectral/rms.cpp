// Root-mean-square of the 720000-sample window and of a record's vector.
#include <cmath>
#include <cstdint>

#include "runtime/emx.h"
#include "runtime/fp_guard.h"
#include "runtime/sum.h"
#include "spectral/spectral.h"

namespace spectral {

double rms_span(std::span<const double, kSpan> x) noexcept {
  // acc holds x[0]^2 + ... + x[k-1]^2, each square rounded by itself and
  // added left to right; the squares need no array of their own.
  double acc = x[0] * x[0];
  for (int k = 1; k < kSpan; ++k) {
    const double square = x[k] * x[k];
    acc += square;
  }
  return std::sqrt(acc / 720000.0);
}

double rms_record(const emxArray_real_T* x) noexcept {
  const std::int64_t length = runtime::vector_length(x);
  if (length < 0) {
    return rtGetNaN();
  }
  const auto n = static_cast<std::int32_t>(length);
  runtime::WorkArray y;
  if (!y.resize(n)) {
    return rtGetNaN();
  }
  for (std::int32_t k = 0; k < n; ++k) {
    y.data()[k] = x->data[k] * x->data[k];
  }
  // An empty vector gives 0 / 0: NaN.
  return std::sqrt(runtime::record_sum(y.get()) / static_cast<double>(n));
}

}  // namespace spectral

extern "C" {

double rms(const double x[720000]) noexcept {
  const runtime::FpGuard guard;
  if (x == nullptr) {
    return rtGetNaN();
  }
  return spectral::rms_span(std::span<const double, spectral::kSpan>(x, spectral::kSpan));
}

double b_rms(const emxArray_real_T* x) noexcept {
  const runtime::FpGuard guard;
  return spectral::rms_record(x);
}

}  // extern "C"
