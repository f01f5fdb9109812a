// Forward transform of 720000 real samples, zero-padded to 2^21 points.
#include "runtime/fp_guard.h"
#include "spectral/engine.h"
#include "spectral/spectral.h"

namespace spectral {

void forward_transform(const double* x, Complex* y) noexcept {
  const Tables& t = tables();
  const WorkArrays& a = work_arrays();
  engine().forward(x, a.work[0], a.cross, &y->re, t);
}

}  // namespace spectral

extern "C" void fft(const double x[720000], complex_T y[2097152]) noexcept {
  const runtime::FpGuard guard;
  if (x == nullptr || y == nullptr) {
    return;
  }
  spectral::forward_transform(x, y);
}
