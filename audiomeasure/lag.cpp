#include "audiomeasure/lag.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "audiomeasure.h"
#include "audiomeasure/fft.h"
#include "runtime/buffer.h"

namespace am {
namespace {

constexpr double kWindowSeconds = AM_SNR_LAG_WINDOW_S;
constexpr std::int64_t kMaxWindow = std::int64_t{1} << 19;
constexpr double kMaxLagSeconds = AM_SNR_LAG_MAX_S;
constexpr double kNeighbourhoodSeconds = AM_SNR_LAG_NEIGHBOURHOOD_S;
constexpr double kReliableProminence = AM_SNR_LAG_PROMINENCE;

double finite_or_zero(double v) noexcept {
  return std::isfinite(v) ? v : 0.0;
}

// seconds * fs samples, at most `most`: a rate the frames accept may be
// far beyond any audio rate (1e85 Hz), where the product has no integer.
std::int64_t samples_up_to(double seconds, double fs, std::int64_t most) noexcept {
  const double n = seconds * fs;
  return n < static_cast<double>(most) ? static_cast<std::int64_t>(n) : most;
}

}  // namespace

std::int64_t lag_opening(double fs) noexcept {
  return samples_up_to(kWindowSeconds, fs, kMaxWindow);
}

bool estimate_lag(std::span<const double> gate, std::span<const double> measured, double fs,
                  Lag& lag) noexcept {
  lag = {};
  const auto shorter = static_cast<std::int64_t>(std::min(gate.size(), measured.size()));
  lag.window = std::min(shorter, lag_opening(fs));
  lag.max_lag = samples_up_to(kMaxLagSeconds, fs, lag.window / 2);
  lag.prominence = std::numeric_limits<double>::quiet_NaN();
  if (lag.max_lag < 1) {
    return true;
  }
  // A silent opening matches nothing (its transform would hold only the
  // other's rounding, which the weighting below would make look like a
  // match).
  double gate_energy = 0.0;
  double measured_energy = 0.0;
  for (std::int64_t i = 0; i < lag.window; ++i) {
    const auto k = static_cast<std::size_t>(i);
    gate_energy += finite_or_zero(gate[k]) * finite_or_zero(gate[k]);
    measured_energy += finite_or_zero(measured[k]) * finite_or_zero(measured[k]);
  }
  if (!(gate_energy > 0.0) || !(measured_energy > 0.0)) {
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
  // Each frequency weighted to unit magnitude (the phase transform): the
  // correlation of what the two have in common at every frequency alike,
  // a sharp peak at the lag however coloured or periodic the signals are
  // (voiced speech, music); a frequency too weak to carry a phase keeps
  // what it has.
  double mean = 0.0;
  for (std::size_t k = 0; k < n; ++k) {
    mean += std::abs(z[k]);
  }
  mean /= static_cast<double>(n);
  const double floor = 1e-3 * mean;
  for (std::size_t k = 0; k < n; ++k) {
    z[k] /= std::abs(z[k]) + floor;
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
    return true;
  }
  // The strongest rival, away from the peak.
  // (beyond 2 max_lag every lag is near the peak)
  const std::int64_t near = samples_up_to(kNeighbourhoodSeconds, fs, 2 * lag.max_lag);
  double rival = 0.0;
  for (std::int64_t d = -lag.max_lag; d <= lag.max_lag; ++d) {
    if (d < lag.samples - near || d > lag.samples + near) {
      rival = std::max(rival, at(d));
    }
  }
  lag.prominence = best / rival;
  lag.reliable = lag.prominence >= kReliableProminence;
  return true;
}

}  // namespace am
