// Synthetic stepped test signals and a simulated recording device, for the
// tests and the demonstration. Samples are doubles on the 16-bit scale (full
// scale 32767) at 48000 Hz; levels are dB re 32767.
//
// The noise comes from a 64-bit counter-based generator and involves no
// library function, so it is the same on every platform; the tones use sin.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace stimulus {

inline constexpr double kRate = 48000.0;
inline constexpr std::int64_t kOpening = 720000;  // 15 s of broadband noise
inline constexpr int kSteps = 11;

// A reference: the noise opening, then 11 steps, each a tone at its own
// level. Steps 1 to 10 last step_seconds; the signal ends last_step_seconds
// into step 11.
struct Stepped {
  double step_seconds = 25.2;
  double last_step_seconds = 1.0;
  double opening_db = -20.0;  // RMS of the opening
  // RMS of each step's tone. The tones have whole periods in every 2400
  // samples (multiples of 20 Hz that divide 48000 / 20), so every whole
  // 50 ms block of a step has the same level.
  std::array<double, kSteps> level_db = {-6.0,  -12.0, -18.0, -9.0,  -24.0, -30.0,
                                         -15.0, -36.0, -21.0, -27.0, -10.0};
  std::array<double, kSteps> tone_hz = {1000.0, 400.0, 2000.0, 300.0, 4000.0, 600.0,
                                        3000.0, 800.0, 6000.0, 200.0, 1600.0};
  std::uint64_t seed = 1;
};

// Position (0-based) where step k begins, k = 0 .. 11 (k = 11: where a full
// step 11 would end): 720000 + floor((k * step_seconds) * 48000).
std::int64_t step_start(double step_seconds, int k);

std::vector<double> stepped_reference(const Stepped& s);

// A device between the reference and the recording.
struct Device {
  // Samples the recording lags the reference; negative: it leads (the
  // recording starts -delay samples into the reference).
  std::int64_t delay = 0;
  double opening_gain_db = 0.0;
  std::array<double, kSteps> step_gain_db{};                   // applied to each reference step
  bool invert = false;                                         // polarity
  double noise_db = -std::numeric_limits<double>::infinity();  // RMS of added white noise
  std::int64_t length = -1;  // recording length; -1: reference length + delay
  std::uint64_t seed = 2;
};

// recording[n] = gain(n - delay) * reference[n - delay] (negated when
// inverted; 0.0 outside the reference) + noise.
std::vector<double> record(const std::vector<double>& reference, const Device& device,
                           double step_seconds);

// White noise uniform in [-a, a), a = sqrt(3) * RMS: n samples at rms_db.
std::vector<double> white_noise(std::int64_t n, double rms_db, std::uint64_t seed);

}  // namespace stimulus
