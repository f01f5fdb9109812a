// Deterministic test material for the host programs, tests and benchmarks:
// speech-like bursts and white noise mixed at a chosen signal-to-noise ratio.
// A seed fixes every sample (up to the last bit of the C library's sin, cos
// and log, which may differ between platforms).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace synth {

// xoshiro256** seeded through splitmix64: fast, and the same sequence on
// every platform (unlike the standard library's distributions).
class Random {
 public:
  explicit Random(std::uint64_t seed) noexcept;
  std::uint64_t next() noexcept;
  double uniform() noexcept;  // [0, 1), 53 random bits
  double uniform(double lo, double hi) noexcept { return lo + (hi - lo) * uniform(); }
  double gaussian() noexcept;  // standard normal (Box-Muller)

 private:
  std::uint64_t s_[4];
  double spare_ = 0.0;
  bool has_spare_ = false;
};

// Speech-like bursts: syllables of 120 to 500 ms, each a harmonic tone with a
// gliding pitch (90 to 240 Hz) and 20 ms raised-cosine edges, at levels spread
// over 10 dB below the given RMS, separated by 80 to 700 ms of exact silence.
struct Bursts {
  std::vector<double> samples;
  std::size_t burst_samples = 0;  // samples inside bursts (edges included)
  double burst_power = 0.0;       // mean square over those samples
};
Bursts speech_bursts(double fs, std::size_t n, double peak_rms, std::uint64_t seed);

// A gate/measured pair with a known SNR: the gate is speech_bursts(), the
// measured signal the same bursts plus independent white Gaussian noise whose
// variance puts the bursts' mean power snr_db above it.
struct SnrScene {
  std::vector<double> gate;
  std::vector<double> measured;
  double signal_power = 0.0;  // mean square of the gate over its bursts
  double noise_power = 0.0;   // variance of the added noise
  double snr_db = 0.0;        // 10 log10(signal_power / noise_power): the truth
};
SnrScene speech_in_noise(double fs, double seconds, double snr_db, std::uint64_t seed);

}  // namespace synth
