// Forward transform of 720000 real samples, zero-padded to 2^21 points.
#include <algorithm>

#include "runtime/fpu.h"
#include "spectral/radix2.h"

namespace spectral {

void forward_transform(const double* x, Complex* y) noexcept {
  static double costab[kTableLength];
  static double sintab[kTableLength];
  twiddle_tables(costab, sintab, false);
  std::fill(y, y + kN, Complex{0.0, 0.0});
  int rev = 0;
  for (int n = 0; n < kSpan; ++n) {
    y[rev] = {x[n], 0.0};
    if (n + 1 < kSpan) {
      rev = next_reversed(rev);
    }
  }
  radix2_stages(y, costab, sintab);
}

}  // namespace spectral

extern "C" void fft(const double x[720000], complex_T y[2097152]) noexcept {
  const runtime::FpuPrecision fpu;
  spectral::forward_transform(x, y);
}
