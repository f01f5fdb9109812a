// Forward transform of 720000 real samples, zero-padded to 2^21 points.
#include "runtime/fp_guard.h"
#include "spectral/spectral.h"

namespace spectral {

void forward_transform(std::span<const double, kSpan> x, std::span<Complex, kN> y,
                       const Engine& e) noexcept {
  const Tables& t = tables();
  const Workspace& w = static_workspace();
  e.forward(x.data(), w.work[0], w.cross, &y.data()->re, t);
}

}  // namespace spectral

extern "C" void fft(const double x[720000], complex_T y[2097152]) noexcept {
  const runtime::FpGuard guard;
  if (x == nullptr || y == nullptr) {
    return;
  }
  spectral::forward_transform(std::span<const double, spectral::kSpan>(x, spectral::kSpan),
                              std::span<complex_T, spectral::kN>(y, spectral::kN));
}
