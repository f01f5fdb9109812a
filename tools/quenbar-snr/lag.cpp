#include "quenbar-snr/lag.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace cli {
namespace {

using Complex = std::complex<double>;

// a b, without the checks for infinite parts that std::complex's product
// makes (a call per product): the values here are finite.
Complex times(Complex a, Complex b) {
  const double re = a.real() * b.real() - a.imag() * b.imag();
  const double im = a.real() * b.imag() + a.imag() * b.real();
  return {re, im};
}

constexpr double kWindowSeconds = 4.0;
constexpr std::int64_t kMaxWindow = std::int64_t{1} << 18;
constexpr double kMaxLagSeconds = 1.0;

// In-place radix-2 FFT of x (a power of two long): X_k = sum_n x_n
// e^(-2 pi i k n / N), or with +i when Inverse (not scaled by 1/N).
// twiddles[j] = e^(-2 pi i j / N) for j < N / 2. Indices count from 0.
template <bool Inverse>
void fft(std::vector<Complex>& x, const std::vector<Complex>& twiddles) {
  const std::size_t n = x.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) {
      j ^= bit;
    }
    j ^= bit;
    if (i < j) {
      std::swap(x[i], x[j]);
    }
  }
  // Butterflies block by block, so that each stage walks the array once.
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::size_t half = len / 2;
    const std::size_t stride = n / len;
    for (std::size_t s = 0; s < n; s += len) {
      for (std::size_t m = 0; m < half; ++m) {
        const Complex w = Inverse ? std::conj(twiddles[m * stride]) : twiddles[m * stride];
        const Complex u = x[s + m];
        const Complex v = times(x[s + m + half], w);
        x[s + m] = u + v;
        x[s + m + half] = u - v;
      }
    }
  }
}

double finite_or_zero(double v) {
  return std::isfinite(v) ? v : 0.0;
}

}  // namespace

std::int64_t lag_opening(int rate) {
  return std::min(static_cast<std::int64_t>(kWindowSeconds * rate), kMaxWindow);
}

Lag estimate_lag(std::span<const double> gate, std::span<const double> measured, int rate) {
  Lag lag;
  const auto shorter = static_cast<std::int64_t>(std::min(gate.size(), measured.size()));
  lag.window = std::min({shorter, static_cast<std::int64_t>(kWindowSeconds * rate), kMaxWindow});
  lag.max_lag = std::min(static_cast<std::int64_t>(kMaxLagSeconds * rate), lag.window / 4);
  if (lag.max_lag < 1) {
    return lag;
  }
  // Both windows as one complex signal z = x + i y, zero-padded to N >=
  // window + max_lag, so that no lag in range wraps around.
  std::size_t n = 1;
  while (static_cast<std::int64_t>(n) < lag.window + lag.max_lag) {
    n <<= 1;
  }
  std::vector<Complex> z(n);
  for (std::int64_t i = 0; i < lag.window; ++i) {
    const auto k = static_cast<std::size_t>(i);
    z[k] = {finite_or_zero(gate[k]), finite_or_zero(measured[k])};
  }
  std::vector<Complex> twiddles(n / 2);
  for (std::size_t j = 0; j < n / 2; ++j) {
    twiddles[j] =
        std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>(j) / static_cast<double>(n));
  }
  fft<false>(z, twiddles);
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
  fft<true>(z, twiddles);
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
  return lag;
}

}  // namespace cli
