// Twiddle tables: a quarter-wave cosine table, unfolded into full tables.
#include <cmath>

#include "runtime/fpu.h"
#include "spectral/spectral.h"

namespace spectral {

void quarter_wave(double* q) noexcept {
  q[0] = 1.0;
  q[1] = kCosStep;
  // Up to N/8 the cosine itself; the angle n*e is one rounded product.
  for (int n = 2; n <= kEighth; ++n) {
    q[n] = std::cos(static_cast<double>(n) * kAngleStep);
  }
  q[kEighth + 1] = kSinAt262143;
  // Above pi/4 the cosine is the sine of the complementary angle; the
  // difference (N/4 - n) is exact, then one rounded product.
  for (int n = kEighth + 2; n < kQuarter; ++n) {
    q[n] = std::sin(static_cast<double>(kQuarter - n) * kAngleStep);
  }
  q[kQuarter] = 0.0;
}

void twiddle_tables(double* costab, double* sintab, bool inverse) noexcept {
  static double costab1q[kQuarterLength];
  quarter_wave(costab1q);
  costab[0] = 1.0;
  sintab[0] = 0.0;
  // Negation flips the sign bit, so signed zeros come out as the quadrant
  // implies: costab[N/4] = +0, costab[N/2] = -1, forward sintab[N/2] = -0.
  for (int k = 1; k <= kQuarter; ++k) {
    const double near = costab1q[k];
    const double far = costab1q[kQuarter - k];
    costab[k] = near;
    costab[kQuarter + k] = -far;
    sintab[k] = inverse ? far : -far;
    sintab[kQuarter + k] = inverse ? near : -near;
  }
}

}  // namespace spectral

extern "C" {

void generate_twiddle_tables(double costab[1048577], double sintab[1048577]) noexcept {
  const runtime::FpuPrecision fpu;
  spectral::twiddle_tables(costab, sintab, false);
}

void b_generate_twiddle_tables(double costab[1048577], double sintab[1048577]) noexcept {
  const runtime::FpuPrecision fpu;
  spectral::twiddle_tables(costab, sintab, true);
}

}  // extern "C"
