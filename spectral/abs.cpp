#include "runtime/fp_guard.h"
#include "spectral/spectral.h"

extern "C" void b_abs(const double x[1439999], double y[1439999]) noexcept {
  const runtime::FpGuard guard;
  if (x == nullptr || y == nullptr) {
    return;
  }
  using spectral::kLags;
  spectral::abs_lags(std::span<const double, kLags>(x, kLags), std::span<double, kLags>(y, kLags));
}
