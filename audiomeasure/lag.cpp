#include "audiomeasure/lag.h"

#include <algorithm>
#include <cmath>

#include "audiomeasure/fft.h"
#include "runtime/buffer.h"

namespace am {
namespace {

constexpr double kWindowSeconds = 4.0;
constexpr std::int64_t kMaxWindow = std::int64_t{1} << 18;
constexpr double kMaxLagSeconds = 1.0;

double finite_or_zero(double v) noexcept {
  return std::isfinite(v) ? v : 0.0;
}

}  // namespace

std::int64_t lag_opening(double fs) noexcept {
  return std::min(static_cast<std::int64_t>(kWindowSeconds * fs), kMaxWindow);
}

bool estimate_lag(std::span<const double> gate, std::span<const double> measured, double fs,
                  Lag& lag) noexcept {
  lag = {};
  const auto shorter = static_cast<std::int64_t>(std::min(gate.size(), measured.size()));
  lag.window = std::min(shorter, lag_opening(fs));
  lag.max_lag = std::min(static_cast<std::int64_t>(kMaxLagSeconds * fs), lag.window / 4);
  if (lag.max_lag < 1) {
    return true;
  }
  // Both windows as one complex signal z = x + i y, zero-padded to N >=
  // window + max_lag, so that no lag in range wraps around.
  std::size_t n = 1;
  while (static_cast<std::int64_t>(n) < lag.window + lag.max_lag) {
    n <<= 1;
  }
  runtime::Buffer<Complex> z;
  runtime::Buffer<Complex> twiddles;
  if (!z.allocate(n) || !twiddles.allocate(n / 2)) {
    return false;
  }
  for (std::size_t k = 0; k < n; ++k) {
    z[k] = k < static_cast<std::size_t>(lag.window)
               ? Complex(finite_or_zero(gate[k]), finite_or_zero(measured[k]))
               : Complex();
  }
  fft_twiddles(twiddles.data(), n);
  fft<false>(z.data(), n, twiddles.data());
  // X_k = (Z_k + conj Z_(N-k)) / 2, Y_k = (Z_k - conj Z_(N-k)) / 2i; the
  // correlation r_d = sum_i x_i y_(i+d) has the transform conj(X_k) Y_k.
  // Each pair k, N-k is read before either is written.
  for (std::size_t k = 0; k <= n / 2; ++k) {
    const std::size_t m = (n - k) % n;
    const Complex zk = z[k];
    const Complex zm = z[m];
    const Complex xk = (zk + std::conj(zm)) * 0.5;
    const Complex yk = times(zk - std::conj(zm), Complex(0.0, -0.5));
    const Complex xm = (zm + std::conj(zk)) * 0.5;
    const Complex ym = times(zm - std::conj(zk), Complex(0.0, -0.5));
    z[k] = times(std::conj(xk), yk);
    z[m] = times(std::conj(xm), ym);
  }
  fft<true>(z.data(), n, twiddles.data());
  // r_d sits at index d mod N.
  const auto at = [&](std::int64_t d) {
    return std::abs(
        z[static_cast<std::size_t>(d < 0 ? d + static_cast<std::int64_t>(n) : d)].real());
  };
  double best = at(0);
  for (std::int64_t d = 1; d <= lag.max_lag; ++d) {
    for (const std::int64_t c : {d, -d}) {
      if (at(c) > best) {
        best = at(c);
        lag.samples = c;
      }
    }
  }
  if (!(best > 0.0) || !std::isfinite(best)) {
    lag.samples = 0;
  }
  return true;
}

}  // namespace am
