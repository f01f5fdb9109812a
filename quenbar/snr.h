// Internal core of SNR_estimation, for the library's entry point, tests and
// benchmarks.
#pragma once

#include <cstdint>

#include "emx_runtime.h"
#include "quenbar/kernels.h"

namespace quenbar {

// Why an estimate is what it is: kFinite, or the reason it is NaN or
// infinite.
enum class Reason : std::uint8_t {
  kFinite,            // a finite estimate (the -120 dB floor included)
  kBadInput,          // a null or unreadable record, null data, or fewer samples than the frames
  kBadRate,           // fs gives frames shorter than one sample (below 200 Hz, NaN) or endless
  kNoFrames,          // fewer gate samples than one frame: 0/0
  kNoInactiveFrame,   // every frame active: no noise estimate, 0/0
  kNoActiveFrame,     // no frame active: no signal, 0/0
  kNonFiniteSamples,  // a NaN or infinite power sum (NaN or infinite samples, or overflow)
  kSignalBelowNoise,  // the mean active power is below the noise power: log of a negative
  kZeroNoise,         // the noise power is 0 (or too small to divide by): +Inf
};

// The quantities behind an estimate. Powers are mean squares of the measured
// signal's samples; in dB they are 10 log10(power / 32767^2), on the scale
// of the levels (a full-scale sine has -3.01 dB). Fields the estimate did
// not reach are NaN.
struct Diagnostics {
  double frame_length;        // L = floor(0.005 fs), samples
  double frame_count;         // F = floor(N / L), whole frames of the gate
  double active_frames;       // A, frames whose smoothed gate level is above -70 dB
  double activity_factor;     // A / F
  double active_power_sum;    // the active frames' mean powers, summed in frame order
  double inactive_power_sum;  // the inactive frames' likewise
  double noise_power;         // P_n = inactive power sum / (F - A)
  double signal_power;        // (active power sum - A P_n) / A: active power less the noise
  double noise_power_db;
  double signal_power_db;
  Reason reason;
};

struct Estimate {
  double snr_db;  // what SNR_estimation writes, bit for bit
  Diagnostics diagnostics;
};

// The estimate with its diagnostics, its frames summed by the given kernel
// table (every table gives the same bits; tests hand in each one). Reads the
// records only; allocates nothing; keeps no state.
Estimate estimate_with_diagnostics(const emxArray_real_T* gate, const emxArray_real_T* measured,
                                   double fs,
                                   const kernels::Table& kernels = kernels::best()) noexcept;

// The estimate alone, as SNR_estimation writes it to snrDb.
inline double estimate(const emxArray_real_T* gate, const emxArray_real_T* measured, double fs,
                       const kernels::Table& kernels = kernels::best()) noexcept {
  return estimate_with_diagnostics(gate, measured, fs, kernels).snr_db;
}

}  // namespace quenbar
