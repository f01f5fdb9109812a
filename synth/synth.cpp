#include "synth.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace synth {
namespace {

std::uint64_t splitmix64(std::uint64_t& x) noexcept {
  std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

std::uint64_t rotl(std::uint64_t x, int k) noexcept {
  return (x << k) | (x >> (64 - k));
}

constexpr double kEdgeSeconds = 0.020;  // raised-cosine attack and decay of a syllable
constexpr double kTopHz = 4000.0;       // highest harmonic, below the Nyquist rate too

// One syllable of len samples at rms, appended to out.
void add_syllable(std::vector<double>& out, std::size_t len, double fs, double rms, Random& rng) {
  const double f_start = rng.uniform(90.0, 240.0);
  const double f_end = f_start * rng.uniform(0.8, 1.25);
  const double top = std::min(kTopHz, 0.45 * fs);
  const int harmonics = std::clamp(static_cast<int>(top / std::max(f_start, f_end)), 1, 30);
  const auto edge = std::min(static_cast<std::size_t>(kEdgeSeconds * fs), len / 3);
  const std::size_t begin = out.size();
  double phase = rng.uniform(0.0, 2.0 * std::numbers::pi);
  for (std::size_t k = 0; k < len; ++k) {
    const double t = static_cast<double>(k) / static_cast<double>(len);
    phase += 2.0 * std::numbers::pi * (f_start + (f_end - f_start) * t) / fs;
    // sin(h phase) for h = 1 .. harmonics by the Chebyshev recurrence,
    // weighted 1/h: a buzz with a falling spectrum, like a voiced sound.
    const double c2 = 2.0 * std::cos(phase);
    double s_prev = 0.0;
    double s = std::sin(phase);
    double v = s;
    for (int h = 2; h <= harmonics; ++h) {
      const double s_next = c2 * s - s_prev;
      s_prev = s;
      s = s_next;
      v += s / h;
    }
    double envelope = 1.0;
    const std::size_t from_end = len - 1 - k;
    if (k < edge || from_end < edge) {
      const double x =
          static_cast<double>(std::min(k, from_end) + 1) / static_cast<double>(edge + 1);
      envelope = 0.5 - 0.5 * std::cos(std::numbers::pi * x);
    }
    out.push_back(v * envelope);
  }
  double power = 0.0;
  for (std::size_t k = begin; k < out.size(); ++k) {
    power += out[k] * out[k];
  }
  const double scale = rms / std::sqrt(power / static_cast<double>(len));
  for (std::size_t k = begin; k < out.size(); ++k) {
    out[k] *= scale;
  }
}

}  // namespace

Random::Random(std::uint64_t seed) noexcept {
  for (auto& word : s_) {
    word = splitmix64(seed);
  }
}

std::uint64_t Random::next() noexcept {
  const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
  const std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = rotl(s_[3], 45);
  return result;
}

double Random::uniform() noexcept {
  return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

double Random::gaussian() noexcept {
  if (has_spare_) {
    has_spare_ = false;
    return spare_;
  }
  const double u1 = 1.0 - uniform();  // (0, 1]: the logarithm stays finite
  const double u2 = uniform();
  const double radius = std::sqrt(-2.0 * std::log(u1));
  const double angle = 2.0 * std::numbers::pi * u2;
  spare_ = radius * std::sin(angle);
  has_spare_ = true;
  return radius * std::cos(angle);
}

Bursts speech_bursts(double fs, std::size_t n, double peak_rms, std::uint64_t seed) {
  Random rng(seed);
  Bursts b;
  b.samples.reserve(n);
  const auto samples_for = [fs](double seconds) { return static_cast<std::size_t>(seconds * fs); };
  double energy = 0.0;
  while (b.samples.size() < n) {
    const std::size_t pause = std::min(samples_for(rng.uniform(0.08, 0.7)), n - b.samples.size());
    b.samples.insert(b.samples.end(), pause, 0.0);
    if (b.samples.size() == n) {
      break;
    }
    const std::size_t len = std::min(samples_for(rng.uniform(0.12, 0.5)), n - b.samples.size());
    if (len == 0) {
      break;
    }
    const double rms = peak_rms * std::pow(10.0, rng.uniform(-10.0, 0.0) / 20.0);
    const std::size_t begin = b.samples.size();
    add_syllable(b.samples, len, fs, rms, rng);
    for (std::size_t k = begin; k < b.samples.size(); ++k) {
      energy += b.samples[k] * b.samples[k];
    }
    b.burst_samples += b.samples.size() - begin;
  }
  b.samples.resize(n);
  b.burst_power = b.burst_samples > 0 ? energy / static_cast<double>(b.burst_samples) : 0.0;
  return b;
}

SnrScene speech_in_noise(double fs, double seconds, double snr_db, std::uint64_t seed) {
  const auto n = static_cast<std::size_t>(seconds * fs);
  Bursts bursts = speech_bursts(fs, n, 3000.0, seed);
  SnrScene scene;
  scene.signal_power = bursts.burst_power;
  scene.noise_power = bursts.burst_power / std::pow(10.0, snr_db / 10.0);
  scene.snr_db = snr_db;
  scene.gate = std::move(bursts.samples);
  scene.measured.resize(n);
  Random noise(seed ^ 0xA5A5A5A5A5A5A5A5ULL);
  const double sigma = std::sqrt(scene.noise_power);
  for (std::size_t k = 0; k < n; ++k) {
    scene.measured[k] = scene.gate[k] + sigma * noise.gaussian();
  }
  return scene;
}

}  // namespace synth
