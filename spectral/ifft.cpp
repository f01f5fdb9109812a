// Inverse transform of 2^21 points, scaled by 2^-21 after the last stage.
#include "runtime/fpu.h"
#include "spectral/radix2.h"

namespace spectral {

void inverse_transform(const Complex* x, Complex* y) noexcept {
  static double costab[kTableLength];
  static double sintab[kTableLength];
  twiddle_tables(costab, sintab, true);
  int rev = 0;
  for (int n = 0; n < kN; ++n) {
    y[rev] = x[n];
    if (n + 1 < kN) {
      rev = next_reversed(rev);
    }
  }
  radix2_stages(y, costab, sintab);
  for (int k = 0; k < kN; ++k) {
    y[k].re *= kInverseScale;
    y[k].im *= kInverseScale;
  }
}

}  // namespace spectral

extern "C" void ifft(const complex_T x[2097152], complex_T y[2097152]) noexcept {
  const runtime::FpuPrecision fpu;
  spectral::inverse_transform(x, y);
}
