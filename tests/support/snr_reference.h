// The SNR estimate written out the straightforward way, step by step, with
// the working records of the original design: frame levels, activity flags
// and frame powers as records of numFrames elements, one frame-long scratch
// record reused for the squares of both signals, and every sum taken by the
// runtime's record sum. The library's fast path must match it bit for bit.
#pragma once

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

}  // namespace reference
