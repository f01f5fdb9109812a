// Full linear cross-correlation of two 720000-sample signals through the
// 2^21-point transforms: the circular correlation has no wrap-around overlap.
#include <algorithm>

#include "runtime/fpu.h"
#include "spectral/spectral.h"

namespace spectral {

void cross_correlate(const double* x, const double* y, double* r) noexcept {
  static Complex dcv0[kN];
  static Complex dcv1[kN];
  static Complex dcv2[kN];
  forward_transform(x, dcv0);
  forward_transform(y, dcv1);
  // X * conj(Y): the first signal's spectrum stays unconjugated, which puts a
  // delayed y at negative lags.
  for (int k = 0; k < kN; ++k) {
    const Complex a = dcv0[k];
    const Complex b = dcv1[k];
    dcv2[k].re = a.re * b.re + a.im * b.im;
    dcv2[k].im = a.im * b.re - a.re * b.im;
  }
  inverse_transform(dcv2, dcv0);
  // Lag m sits at circular index m mod N: negative lags at the top.
  for (int j = 0; j < kSpan - 1; ++j) {
    r[j] = dcv0[kN - (kSpan - 1) + j].re;
  }
  for (int j = 0; j < kSpan; ++j) {
    r[kSpan - 1 + j] = dcv0[j].re;
  }
}

}  // namespace spectral

extern "C" void xcorr(const double x[720000], const double y[720000], double r[1439999]) noexcept {
  const runtime::FpuPrecision fpu;
  spectral::cross_correlate(x, y, r);
}
