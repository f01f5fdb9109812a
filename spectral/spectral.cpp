// The spectral toolkit's internal functions (spectral.h) that keep no state:
// the correlation in a caller's workspace, magnitudes and RMS.
#include <bit>
#include <cmath>
#include <cstdint>

#include "runtime/emx.h"
#include "runtime/sum.h"
#include "spectral/spectral.h"

namespace spectral {

// Full linear cross-correlation of two 720000-sample signals through the
// 2^21-point transforms: the circular correlation has no wrap-around overlap.
//
// Work: two forward transforms and one inverse in the workspace's two arrays
// of 32 MiB and its two buffers of 256 KiB. The last stages of the two
// forward transforms run side by side, column by column with the same
// twiddles, and give the cross-spectrum X * conj(Y) (x's spectrum
// unconjugated: a delayed y peaks at a negative lag) piece by piece; the
// inverse starts on each piece at once, so no spectrum is ever stored
// whole. Its last stage writes only the real parts of the 1439999 possible
// lags, scaled, to r.
void cross_correlate(std::span<const double, kSpan> x, std::span<const double, kSpan> y,
                     std::span<double, kLags> r, const Workspace& w, const Tables& t,
                     const Engine& e) noexcept {
  e.correlate(x.data(), y.data(), r.data(), w, t);
}

void abs_lags(std::span<const double, kLags> x, std::span<double, kLags> y) noexcept {
  // Clearing the sign bit: -0 becomes +0, a NaN stays a NaN. Each element is
  // read before it is written, so x and y may be the same array.
  for (int k = 0; k < kLags; ++k) {
    y[k] = std::bit_cast<double>(std::bit_cast<std::uint64_t>(x[k]) & 0x7FFFFFFFFFFFFFFFu);
  }
}

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
