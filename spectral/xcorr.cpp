// Full linear cross-correlation of two 720000-sample signals through the
// 2^21-point transforms: the circular correlation has no wrap-around overlap.
//
// Work: two forward transforms and one inverse in the engine's two static
// arrays of 32 MiB and its buffer of 256 KiB. The spectrum of y goes to `spectrum`; the spectrum
// of x, as its last stages leave the cache, is multiplied by conj(Y) (x's
// spectrum unconjugated: a delayed y peaks at a negative lag), and the
// inverse starts on each piece of that cross-spectrum at once. Its last stage
// writes only the real parts of the 1439999 possible lags, scaled, to r.
#include "spectral/engine.h"
#include "spectral/spectral.h"

namespace spectral {

void cross_correlate(const double* x, const double* y, double* r) noexcept {
  const Tables& t = tables();
  const Engine& e = engine();
  const WorkArrays& a = work_arrays();
  e.forward_split(y, a.work, a.spectrum, t);
  e.correlate(x, a.work, a.spectrum, a.cross, r, t);
}

}  // namespace spectral

extern "C" void xcorr(const double x[720000], const double y[720000], double r[1439999]) noexcept {
  if (x == nullptr || y == nullptr || r == nullptr) {
    return;
  }
  spectral::cross_correlate(x, y, r);
}
