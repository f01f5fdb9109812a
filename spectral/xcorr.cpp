// Full linear cross-correlation of two 720000-sample signals through the
// 2^21-point transforms: the circular correlation has no wrap-around overlap.
//
// Work: two forward transforms and one inverse in the engine's three static
// arrays of 32 MiB and its buffer of 256 KiB. The last stages of the two
// forward transforms run side by side, column by column with the same
// twiddles, and give the cross-spectrum X * conj(Y) (x's spectrum
// unconjugated: a delayed y peaks at a negative lag) piece by piece; the
// inverse starts on each piece at once, so no spectrum is ever stored
// whole. Its last stage writes only the real parts of the 1439999 possible
// lags, scaled, to r.
#include "runtime/fp_guard.h"
#include "spectral/spectral.h"

namespace spectral {

void cross_correlate(std::span<const double, kSpan> x, std::span<const double, kSpan> y,
                     std::span<double, kLags> r, const Engine& e) noexcept {
  const Tables& t = tables();
  const WorkArrays& a = work_arrays();
  e.correlate(x.data(), y.data(), a.work[0], a.work[1], a.work[2], a.cross, r.data(), t);
}

}  // namespace spectral

extern "C" void xcorr(const double x[720000], const double y[720000], double r[1439999]) noexcept {
  const runtime::FpGuard guard;
  if (x == nullptr || y == nullptr || r == nullptr) {
    return;
  }
  using spectral::kLags;
  using spectral::kSpan;
  spectral::cross_correlate(std::span<const double, kSpan>(x, kSpan),
                            std::span<const double, kSpan>(y, kSpan),
                            std::span<double, kLags>(r, kLags));
}
