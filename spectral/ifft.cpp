// Inverse transform of 2^21 points, scaled by 2^-21 after the last stage.
#include "runtime/fp_guard.h"
#include "spectral/spectral.h"

namespace spectral {

void inverse_transform(std::span<const Complex, kN> x, std::span<Complex, kN> y,
                       const Engine& e) noexcept {
  const Tables& t = tables();
  const Workspace& w = static_workspace();
  e.inverse(&x.data()->re, w.work[0], w.work[1], w.cross, &y.data()->re, t);
}

}  // namespace spectral

extern "C" void ifft(const complex_T x[2097152], complex_T y[2097152]) noexcept {
  const runtime::FpGuard guard;
  if (x == nullptr || y == nullptr) {
    return;
  }
  spectral::inverse_transform(std::span<const complex_T, spectral::kN>(x, spectral::kN),
                              std::span<complex_T, spectral::kN>(y, spectral::kN));
}
