// The SNR estimate written out the straightforward way, step by step, with
// the working records of the original design: frame levels, activity flags
// and frame powers as records of numFrames elements, one frame-long scratch
// record reused for the squares of both signals, and every sum taken by the
// runtime's record sum. The library's fast path must match it bit for bit.
#pragma once

#include <cmath>
#include <vector>

#include "emx_runtime.h"

namespace reference {

struct SnrTrace {
  double snr_db = 0.0;              // what SNR_estimation writes
  double frame_length = 0.0;        // L, samples
  double frame_count = 0.0;         // F, whole frames
  double active_frames = 0.0;       // A, the sum of the flags
  double active_power_sum = 0.0;    // measured mean powers of the active frames, summed
  double inactive_power_sum = 0.0;  // ... of the inactive frames
  double noise_power = 0.0;         // P_n = inactive sum / (F - A)
  std::vector<double> levels;       // smoothed frame levels, dB
  std::vector<double> flags;        // 1.0 for an active frame
  std::vector<double> powers;       // measured mean power of each frame
};

// Preconditions: both records hold readable vectors; fs >= 200; the measured
// signal holds at least F * L samples. A working record that cannot be had
// gives a NaN estimate, as does an fs below 200.
SnrTrace snr(const emxArray_real_T* gate, const emxArray_real_T* measured, double fs);

// One-sample frames (fs = 200): the level of gate sample g, a gate sample
// whose level is near db, and the one whose level is exactly db.
inline double level_of(double g) {
  return 20.0 * std::log10((std::sqrt(g * g / 1.0) + 1e-6) / 32767.0);
}
inline double amplitude(double db) {
  return 32767.0 * std::pow(10.0, db / 20.0) - 1e-6;
}
inline double gate_sample_at(double db) {
  double a = amplitude(db);
  for (int step = 0; step < 100000 && level_of(a) != db; ++step) {
    a = std::nextafter(a, level_of(a) < db ? 1e300 : 0.0);
  }
  return a;
}

}  // namespace reference
