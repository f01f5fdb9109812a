// Internal core of SNR_estimation, for the library's entry point, tests and
// benchmarks.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "emx_runtime.h"
#include "quenbar/constants.h"
#include "quenbar/kernels.h"

namespace quenbar {

// Why an estimate is what it is: kFinite, or the reason it is NaN or
// infinite. After the refusals, in the order the estimate decides them.
enum class Reason : std::uint8_t {
  kFinite,            // a finite estimate (the -120 dB floor included)
  kBadInput,          // a null or unreadable record, null data, or fewer samples than the frames
  kBadRate,           // fs gives frames shorter than one sample (below 200 Hz, NaN) or endless
  kNoFrames,          // fewer gate samples than one frame: 0/0
  kNoInactiveFrame,   // every frame active: no noise estimate, 0/0
  kNoActiveFrame,     // no frame active: no signal, 0/0
  kNonFiniteSamples,  // a NaN or infinite power sum (NaN or infinite samples, or overflow)
  kSilentMeasured,    // both power sums 0: the measured signal is silent, 0/0
  kSignalBelowNoise,  // the mean active power is below the noise power: log of a negative
  kZeroNoise,         // the noise power is 0 (or too small to divide by): +Inf
};

// Each reason with its stable name (hosts and the tools' JSON match on it)
// and one sentence for people.
struct ReasonText {
  Reason reason;
  const char* name;
  const char* text;
};

// Every reason, in the order of the enumeration.
inline constexpr ReasonText kReasonTexts[] = {
    {Reason::kFinite, "finite", "a finite estimate"},
    {Reason::kBadInput, "bad_input", "the signals cannot be read as records of samples"},
    {Reason::kBadRate, "bad_rate", "the rate gives 5 ms frames shorter than one sample"},
    {Reason::kNoFrames, "no_frames", "the gate is shorter than one 5 ms frame"},
    {Reason::kNoInactiveFrame, "no_inactive_frame",
     "every frame of the gate is active (smoothed level above -70 dB): no frame to measure the "
     "noise in"},
    {Reason::kNoActiveFrame, "no_active_frame",
     "no frame of the gate is active (smoothed level above -70 dB): no frame to measure the "
     "signal in"},
    {Reason::kNonFiniteSamples, "non_finite_samples",
     "a power sum is NaN or infinite: the measured signal holds NaN or infinite samples"},
    {Reason::kSilentMeasured, "silent_measured",
     "the measured signal is silent (0 in every frame): there is neither signal nor noise to "
     "compare"},
    {Reason::kSignalBelowNoise, "signal_below_noise",
     "the mean power of the active frames is below the noise power: the signal power is "
     "negative"},
    {Reason::kZeroNoise, "zero_noise",
     "the noise power is 0 (the measured signal is silent in every inactive frame)"},
};
static_assert([] {
  for (std::size_t i = 0; i < std::size(kReasonTexts); ++i) {
    if (static_cast<std::size_t>(kReasonTexts[i].reason) != i) {
      return false;
    }
  }
  return std::size(kReasonTexts) == static_cast<std::size_t>(Reason::kZeroNoise) + 1;
}());

inline const ReasonText& reason_text(Reason reason) noexcept {
  return kReasonTexts[static_cast<std::size_t>(reason)];
}

// The frame rules. L = floor(0.005 fs), the product rounded, then floored;
// 240 at 48000 Hz, 220 at 44100 Hz.
inline double frame_length(double fs) noexcept {
  return std::floor(kFrameSeconds * fs);
}

// Whether frames of L samples can be measured: at least one sample (fs of
// kMinRate or more) and not endless. Other rates give Reason::kBadRate.
inline bool usable_frame_length(double L) noexcept {
  return L >= 1.0 && !std::isinf(L);
}

// F = floor(N / L): the whole frames of a gate of N samples; the samples
// after the last whole frame are not read.
inline double frame_count(double N, double L) noexcept {
  return std::floor(N / L);
}

// F L: the samples the frames cover in both signals. The measured signal
// must hold at least that many (else Reason::kBadInput). Exact for
// N < 2^31: F L <= N (see the estimate).
inline std::int64_t frames_span(double F, double L) noexcept {
  return static_cast<std::int64_t>(F * L);
}

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
