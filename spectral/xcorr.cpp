// The exported correlation, in the static workspace with the static tables.
#include "runtime/fp_guard.h"
#include "spectral/spectral.h"

extern "C" void xcorr(const double x[720000], const double y[720000], double r[1439999]) noexcept {
  const runtime::FpGuard guard;
  if (x == nullptr || y == nullptr || r == nullptr) {
    return;
  }
  using spectral::kLags;
  using spectral::kSpan;
  spectral::cross_correlate(
      std::span<const double, kSpan>(x, kSpan), std::span<const double, kSpan>(y, kSpan),
      std::span<double, kLags>(r, kLags), spectral::static_workspace(), spectral::tables());
}
