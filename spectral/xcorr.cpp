// Full linear cross-correlation of two 720000-sample signals through the
// 2^21-point transforms: the circular correlation has no wrap-around overlap.
//
// Work: two forward transforms and one inverse in two static arrays of 32 MiB.
// Each transform runs in `work`. The spectrum of y goes to `spectrum`; the
// spectrum of x, as its last stage leaves the cache, is multiplied into
// `spectrum` as X * conj(Y) (x's spectrum unconjugated: a delayed y peaks at a
// negative lag). The inverse then reads `spectrum`, and its last stage writes
// only the real parts of the 1439999 possible lags, scaled, straight to r.
#include "spectral/engine.h"
#include "spectral/spectral.h"

namespace spectral {
namespace {

alignas(64) double g_spectrum[2 * kN];
alignas(64) double g_work[2 * kN];

}  // namespace

void cross_correlate(const double* x, const double* y, double* r) noexcept {
  const Tables& t = tables();
  const Engine& e = engine();
  e.forward_split(y, g_work, g_spectrum, t);
  e.forward_cross(x, g_work, g_spectrum, t);
  e.inverse_lags(g_spectrum, g_work, r, t);
}

}  // namespace spectral

extern "C" void xcorr(const double x[720000], const double y[720000], double r[1439999]) noexcept {
  if (x == nullptr || y == nullptr || r == nullptr) {
    return;
  }
  spectral::cross_correlate(x, y, r);
}
