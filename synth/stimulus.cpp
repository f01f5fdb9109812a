#include "stimulus.h"

#include <algorithm>
#include <cmath>

namespace stimulus {
namespace {

constexpr double kFullScale = 32767.0;
constexpr double kTwoPi = 6.283185307179586;

double amplitude(double db) {
  return kFullScale * std::pow(10.0, db / 20.0);
}

// SplitMix64 over a counter: the n-th value of stream `seed`.
std::uint64_t mix(std::uint64_t seed, std::uint64_t n) {
  std::uint64_t z = seed * 0x9E3779B97F4A7C15u + n * 0xBF58476D1CE4E5B9u + 0x94D049BB133111EBu;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

// Uniform in [-1, 1), 53 bits.
double uniform(std::uint64_t seed, std::uint64_t n) {
  return static_cast<double>(mix(seed, n) >> 11) * 0x1.0p-52 - 1.0;
}

}  // namespace

std::int64_t step_start(double step_seconds, int k) {
  return kOpening +
         static_cast<std::int64_t>(std::floor((static_cast<double>(k) * step_seconds) * kRate));
}

std::vector<double> white_noise(std::int64_t n, double rms_db, std::uint64_t seed) {
  const double a = std::sqrt(3.0) * amplitude(rms_db);
  std::vector<double> x(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
  for (std::size_t i = 0; i < x.size(); ++i) {
    x[i] = a * uniform(seed, i);
  }
  return x;
}

std::vector<double> stepped_reference(const Stepped& s) {
  const std::int64_t end = step_start(s.step_seconds, kSteps - 1) +
                           static_cast<std::int64_t>(std::floor(s.last_step_seconds * kRate));
  std::vector<double> x = white_noise(kOpening, s.opening_db, s.seed);
  x.resize(static_cast<std::size_t>(end));
  for (int k = 0; k < kSteps; ++k) {
    const auto period = static_cast<std::int64_t>(std::lround(kRate / s.tone_hz[k]));
    // A tone of peak a has RMS a / sqrt(2) over whole periods.
    const double a = std::sqrt(2.0) * amplitude(s.level_db[k]);
    std::vector<double> cycle(static_cast<std::size_t>(period));
    for (std::int64_t m = 0; m < period; ++m) {
      cycle[static_cast<std::size_t>(m)] =
          a * std::sin(kTwoPi * static_cast<double>(m) / static_cast<double>(period));
    }
    const std::int64_t first = step_start(s.step_seconds, k);
    const std::int64_t last = k + 1 < kSteps ? step_start(s.step_seconds, k + 1) : end;
    for (std::int64_t n = first; n < last; ++n) {
      x[static_cast<std::size_t>(n)] = cycle[static_cast<std::size_t>((n - first) % period)];
    }
  }
  return x;
}

std::vector<double> record(const std::vector<double>& reference, const Device& device,
                           double step_seconds) {
  const auto n_ref = static_cast<std::int64_t>(reference.size());
  const std::int64_t n =
      device.length >= 0 ? device.length : std::max<std::int64_t>(n_ref + device.delay, 0);
  // Gain of reference position p: the opening's, then each step's from its
  // start on (step 11's to the end).
  std::array<double, kSteps + 1> gain{};
  std::array<std::int64_t, kSteps + 1> from{};
  gain[0] = std::pow(10.0, device.opening_gain_db / 20.0);
  for (int k = 0; k < kSteps; ++k) {
    gain[k + 1] = std::pow(10.0, device.step_gain_db[k] / 20.0);
    from[k + 1] = step_start(step_seconds, k);
  }
  const double sign = device.invert ? -1.0 : 1.0;
  const bool noisy = device.noise_db > -std::numeric_limits<double>::infinity();
  const double noise = noisy ? std::sqrt(3.0) * amplitude(device.noise_db) : 0.0;
  std::vector<double> y(static_cast<std::size_t>(n));
  int region = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    const std::int64_t p = i - device.delay;
    double v = 0.0;
    if (p >= 0 && p < n_ref) {
      while (region < kSteps && p >= from[region + 1]) {
        ++region;
      }
      v = sign * (gain[region] * reference[static_cast<std::size_t>(p)]);
    }
    if (noisy) {
      v += noise * uniform(device.seed, static_cast<std::uint64_t>(i));
    }
    y[static_cast<std::size_t>(i)] = v;
  }
  return y;
}

}  // namespace stimulus
