// Internal core of SNR_estimation: the estimate together with the quantities
// behind it, for tests and host diagnostics.
#pragma once

#include <cstdint>

#include "emx_runtime.h"

namespace quenbar {

// Why an estimate is what it is. Everything but kFinite yields NaN or +Inf.
enum class Outcome : std::uint8_t {
  kFinite,            // a finite estimate (including the -120 dB floor)
  kBadInput,          // null record, unreadable extents, null data
  kBadRate,           // fs gives a frame shorter than one sample (or is not finite)
  kShortMeasured,     // measured signal holds fewer than frames * frame length samples
  kOutOfMemory,       // a working array could not be allocated
  kNoFrames,          // fewer gate samples than one frame: NaN
  kNoInactiveFrame,   // every frame active: noise power 0/0, NaN
  kNoActiveFrame,     // no frame active: ratio 0/0, NaN
  kSignalBelowNoise,  // mean active power below the noise power: log of a negative, NaN
  kZeroNoise,         // noise power 0 with active power: +Inf
};

struct Estimate {
  double snr_db;              // what SNR_estimation writes
  double frame_length;        // L, samples
  double frame_count;         // F, whole frames
  double active_frames;       // A
  double active_power_sum;    // sum of the active frames' mean powers
  double inactive_power_sum;  // sum of the inactive frames' mean powers
  double noise_power;         // P_n = inactive sum / (F - A)
  Outcome outcome;
};

// The estimate of SNR_estimation, bit for bit, with its diagnostics.
Estimate estimate(const emxArray_real_T* gate, const emxArray_real_T* measured,
                  double fs) noexcept;

}  // namespace quenbar
