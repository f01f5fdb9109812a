#include "audiomeasure/resample.h"

#include <cmath>
#include <numbers>

namespace am {
namespace {

constexpr int kHalfTaps = 24;  // taps on each side of the position
constexpr int kPhases = 1024;  // tabulated fractional positions per sample
constexpr double kBeta = 9.0;  // Kaiser window

// I0, the modified Bessel function of the first kind, by its series.
double bessel_i0(double x) noexcept {
  double sum = 1.0;
  double term = 1.0;
  for (int k = 1; k < 40; ++k) {
    const double half = x / (2.0 * k);
    term *= half * half;
    sum += term;
  }
  return sum;
}

// h(u), the windowed sinc at offset u samples (|u| < kHalfTaps).
double kernel(double u) noexcept {
  const double ratio = u / kHalfTaps;
  const double window =
      bessel_i0(kBeta * std::sqrt(std::max(0.0, 1.0 - ratio * ratio))) / bessel_i0(kBeta);
  const double sinc = u == 0.0 ? 1.0 : std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
  return sinc * window;
}

}  // namespace

bool convert_by_speed(const double* x, std::int64_t n, double speed,
                      runtime::Buffer<double>& out) noexcept {
  if (!(speed > 0.99 && speed < 1.01) || n < 1) {
    return false;
  }
  // table[p * 2K + j]: the tap on sample floor(t) + j - K + 1 for the
  // fraction p / kPhases of t, p = 0 .. kPhases (one more for the
  // interpolation at the top).
  constexpr int kTaps = 2 * kHalfTaps;
  runtime::Buffer<double> table;
  if (!table.allocate(static_cast<std::size_t>(kPhases + 1) * kTaps)) {
    return false;
  }
  for (int p = 0; p <= kPhases; ++p) {
    const double frac = static_cast<double>(p) / kPhases;
    for (int j = 0; j < kTaps; ++j) {
      table[static_cast<std::size_t>(p) * kTaps + j] = kernel(frac - (j - kHalfTaps + 1));
    }
  }
  const auto length = static_cast<std::int64_t>(std::floor(static_cast<double>(n - 1) * speed)) + 1;
  if (!out.allocate(static_cast<std::size_t>(length))) {
    return false;
  }
  for (std::int64_t m = 0; m < length; ++m) {
    const double t = static_cast<double>(m) / speed;
    const auto base = static_cast<std::int64_t>(std::floor(t));
    const double phase = (t - static_cast<double>(base)) * kPhases;
    const auto p = std::min(static_cast<int>(phase), kPhases - 1);
    const double mix = phase - p;
    const double* lo = table.data() + static_cast<std::size_t>(p) * kTaps;
    const double* hi = lo + kTaps;
    double acc = 0.0;
    const std::int64_t first = base - kHalfTaps + 1;
    for (int j = 0; j < kTaps; ++j) {
      const std::int64_t i = first + j;
      if (i >= 0 && i < n) {
        const double h = lo[j] + (hi[j] - lo[j]) * mix;
        acc += x[i] * h;
      }
    }
    out[static_cast<std::size_t>(m)] = acc;
  }
  return true;
}

}  // namespace am
