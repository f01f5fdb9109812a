// SNR of a measured signal in the frames that a gate signal marks active,
// against its power in the frames that the gate leaves inactive.
//
//   L = floor(0.005 fs) samples per frame, N = gate size[0], F = floor(N / L)
//   level_i = 20 log10((sqrt(gate_sum_i / L) + 1e-6) / 32767), at least -120
//   smoothed: level_i = level_i * 0.9 + level_(i-1) * (1 - 0.9) for i >= 1
//   active when the smoothed level is above -70 dB
//   P_n = inactive power sum / (F - A), A = active frames
//   snr = 10 log10(1e-12 + ((active power sum - A P_n) / A) / P_n)
//
// Frames count from 0, samples within a frame from 0.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "quenbar.h"
#include "quenbar/constants.h"
#include "quenbar/kernels.h"
#include "quenbar/snr.h"
#include "runtime/emx.h"
#include "runtime/fp_guard.h"
#include "runtime/nonfinite.h"

namespace quenbar {
namespace {

// Frames whose sums of squares one kernel call forms: the sums wait on the
// stack (4 KiB) for the in-order pass over the levels, so the estimate needs
// no heap. Each SIMD lane sums a run of 64 (AVX2) or 128 (SSE2) consecutive
// frames of a block: long unbroken streams through memory.
constexpr std::int32_t kBlockFrames = 256;

// Diagnostics of an estimate refused before any frame was read.
Estimate refused(Reason why, double frame_length) noexcept {
  Estimate e{};
  e.snr_db = runtime::kNaN;
  Diagnostics& d = e.diagnostics;
  d.frame_length = frame_length;
  d.frame_count = runtime::kNaN;
  d.active_frames = runtime::kNaN;
  d.activity_factor = runtime::kNaN;
  d.active_power_sum = runtime::kNaN;
  d.inactive_power_sum = runtime::kNaN;
  d.noise_power = runtime::kNaN;
  d.signal_power = runtime::kNaN;
  d.noise_power_db = runtime::kNaN;
  d.signal_power_db = runtime::kNaN;
  d.reason = why;
  return e;
}

// A mean square in dB re full scale squared.
double power_db(double power) noexcept {
  return 10.0 * std::log10(power / (kFullScale * kFullScale));
}

// The reason for the estimate snr reached with diagnostics d, the first that
// holds in this order.
Reason reason(const Diagnostics& d, double snr) noexcept {
  if (std::isfinite(snr)) {
    return Reason::kFinite;
  }
  if (d.frame_count < 1.0) {
    return Reason::kNoFrames;
  }
  if (d.active_frames == d.frame_count) {
    return Reason::kNoInactiveFrame;
  }
  if (d.active_frames == 0.0) {
    return Reason::kNoActiveFrame;
  }
  if (!std::isfinite(d.active_power_sum) || !std::isfinite(d.inactive_power_sum)) {
    return Reason::kNonFiniteSamples;
  }
  // Both sums 0: no noise, and no signal above it (0/0).
  if (d.active_power_sum == 0.0 && d.inactive_power_sum == 0.0) {
    return Reason::kSilentMeasured;
  }
  // +Inf: a positive signal over a zero noise; NaN (and the -Inf of a ratio
  // of exactly -1e-12): a signal below the noise.
  return snr > 0.0 ? Reason::kZeroNoise : Reason::kSignalBelowNoise;
}

// How the frames cover the two records, or why the records are refused.
struct Framing {
  bool accepted;
  Reason refusal;          // when not accepted: kBadInput or kBadRate
  double L;                // samples per frame; NaN when not reached
  double F;                // whole frames of the gate
  std::int32_t numFrames;  // F as an integer
};

// Phase 1, input checks, before any sample is read. The gate's samples are
// counted by size[0]; its extents must describe an array (none negative, the
// element count within int32_t), and both records must hold every sample
// that the frames cover.
Framing check_input(const emxArray_real_T* gate, const emxArray_real_T* measured,
                    double fs) noexcept {
  const Framing bad_input{false, Reason::kBadInput, runtime::kNaN, runtime::kNaN, 0};
  if (gate == nullptr || measured == nullptr || gate->numDims < 1) {
    return bad_input;
  }
  const std::int64_t gate_elements = runtime::element_count(*gate);
  if (gate_elements < 0) {
    return bad_input;
  }
  // A frame shorter than one sample (fs below 200, zero, negative or NaN)
  // or without end (fs infinite) has no meaning.
  const double L = frame_length(fs);
  if (!usable_frame_length(L)) {
    return {false, Reason::kBadRate, L, runtime::kNaN, 0};
  }
  const double N = gate->size[0];
  const double F = frame_count(N, L);
  // 0 <= F <= N < 2^31, so the conversion is exact and defined.
  const auto numFrames = static_cast<std::int32_t>(F);
  if (numFrames >= 1) {
    // The frames cover samples 0 .. F*L - 1 of both signals. F*L <= N: N / L
    // is at least 1/L away from the next integer when it is not one itself,
    // far more than its rounding error, so the floor never rounds up.
    const std::int64_t span = frames_span(F, L);
    const std::int64_t measured_elements = runtime::element_count(*measured);
    if (gate->data == nullptr || measured->data == nullptr || gate_elements < span ||
        measured_elements < span) {
      return {false, Reason::kBadInput, L, runtime::kNaN, 0};
    }
  }
  return {true, Reason::kFinite, L, F, numFrames};
}

// The measured signal's power summed over the active and the inactive
// frames, in frame order, and the count of active frames.
struct FramePowers {
  double active_sum = 0.0;
  double inactive_sum = 0.0;
  std::int32_t active_frames = 0;
};

// Phase 2, frame classification: each frame's gate level, clamped to the
// floor and smoothed with the previous frame's, decides whether the measured
// signal's power in that frame counts as active or as inactive.
FramePowers classify_frames(const double* gate, const double* measured, const Framing& framing,
                            const kernels::Table& kernels) noexcept {
  const double L = framing.L;
  const auto len = static_cast<std::size_t>(L);
  FramePowers p;
  double gate_sums[kBlockFrames];
  double measured_sums[kBlockFrames];
  double previous = 0.0;  // the previous frame's smoothed level
  for (std::int32_t first = 0; first < framing.numFrames; first += kBlockFrames) {
    const std::int32_t count = std::min(kBlockFrames, framing.numFrames - first);
    const std::size_t offset = static_cast<std::size_t>(first) * len;
    kernels.frame_sums(gate + offset, measured + offset, len, static_cast<std::size_t>(count),
                       gate_sums, measured_sums);
    // In frame order: level, clamp, power, smoothing, decision.
    for (std::int32_t j = 0; j < count; ++j) {
      const double rms = std::sqrt(gate_sums[j] / L);
      double level = 20.0 * std::log10((rms + kLevelOffset) / kFullScale);
      if (level < kFloorDb || std::isnan(level)) {
        level = kFloorDb;
      }
      const double power = measured_sums[j] / L;
      if (first + j >= 1) {
        const double own = level * kKeep;
        const double carried = previous * kCarry;
        level = own + carried;
      }
      previous = level;
      if (level > kActiveDb) {
        ++p.active_frames;
        p.active_sum += power;
      } else {
        p.inactive_sum += power;
      }
    }
  }
  return p;
}

// Phase 3, powers: the noise power, the signal power and their ratio in dB,
// with the diagnostics behind them.
Estimate estimate_from_powers(const Framing& framing, const FramePowers& p) noexcept {
  const double F = framing.F;
  // A is the sum of the activity flags (1.0 per active frame, first to last):
  // every partial sum is an integer below 2^31, so it is exactly the count.
  // No frames, no inactive or no active frame leave a 0/0 here: NaN.
  const double A = static_cast<double>(p.active_frames);
  const double noise = p.inactive_sum / (F - A);
  const double excess = p.active_sum - A * noise;
  const double signal = excess / A;
  const double ratio = signal / noise;
  Estimate e{};
  e.snr_db = 10.0 * std::log10(kRatioFloor + ratio);
  Diagnostics& d = e.diagnostics;
  d.frame_length = framing.L;
  d.frame_count = F;
  d.active_frames = A;
  d.activity_factor = A / F;
  d.active_power_sum = p.active_sum;
  d.inactive_power_sum = p.inactive_sum;
  d.noise_power = noise;
  d.signal_power = signal;
  d.noise_power_db = power_db(noise);
  d.signal_power_db = power_db(signal);
  d.reason = reason(d, e.snr_db);
  return e;
}

}  // namespace

Estimate estimate_with_diagnostics(const emxArray_real_T* gate, const emxArray_real_T* measured,
                                   double fs, const kernels::Table& kernels) noexcept {
  const Framing framing = check_input(gate, measured, fs);
  if (!framing.accepted) {
    return refused(framing.refusal, framing.L);
  }
  const FramePowers powers = framing.numFrames >= 1
                                 ? classify_frames(gate->data, measured->data, framing, kernels)
                                 : FramePowers{};
  return estimate_from_powers(framing, powers);
}

}  // namespace quenbar

extern "C" void SNR_estimation(const emxArray_real_T* gateSignal,
                               const emxArray_real_T* measuredSignal, double fs, double* snrDb,
                               double* extraOut) noexcept {
  const runtime::FpGuard guard;
  if (extraOut != nullptr) {
    *extraOut = 0.0;
  }
  const quenbar::Estimate e = quenbar::estimate_with_diagnostics(gateSignal, measuredSignal, fs);
  if (snrDb != nullptr) {
    *snrDb = e.snr_db;
  }
}
