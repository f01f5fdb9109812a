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
#include <limits>
#include <span>

#include "quenbar/constants.h"
#include "quenbar/kernels.h"
#include "quenbar/snr.h"
#include "quenbar/stream.h"
#include "runtime/emx.h"
#include "runtime/nonfinite.h"

namespace quenbar {
namespace {

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

// Phase 2, frame classification (FrameClassifier), the frames' sums of
// squares formed a block at a time.
FramePowers classify_frames(const double* gate, const double* measured, const Framing& framing,
                            const kernels::Table& kernels) noexcept {
  const double L = framing.L;
  const auto len = static_cast<std::size_t>(L);
  const auto frames = static_cast<std::size_t>(framing.numFrames);
  FrameClassifier c;
  double gate_sums[kBlockFrames];
  double measured_sums[kBlockFrames];
  for (std::size_t first = 0; first < frames; first += kBlockFrames) {
    const std::size_t count = std::min(kBlockFrames, frames - first);
    const std::size_t offset = first * len;
    kernels.frame_sums(gate + offset, measured + offset, len, count, gate_sums, measured_sums);
    for (std::size_t j = 0; j < count; ++j) {
      c.take(gate_sums[j], measured_sums[j], L);
    }
  }
  return c.powers;
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

Stream::Stream(double fs, const kernels::Table& kernels) noexcept
    : kernels_(&kernels), L_(frame_length(fs)) {
  if (usable_frame_length(L_) &&
      L_ <= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    len_ = static_cast<std::size_t>(L_);
  }
}

void Stream::feed(std::span<const double> gate, std::span<const double> measured) noexcept {
  if (gate.size() != measured.size()) {
    unequal_ = true;
    return;
  }
  const std::size_t n = gate.size();
  samples_ += static_cast<std::int64_t>(n);
  if (len_ == 0 || unequal_) {
    return;
  }
  const double* g = gate.data();
  const double* m = measured.data();
  // Samples 0 .. i-1 of the chunk are taken. A frame split between chunks:
  // frame_gate_ holds g^2 of its samples 0 .. in_frame_-1, added left to
  // right as one_frame in kernels_impl.h adds them (square, then add).
  std::size_t i = 0;
  auto take_sample = [&] {
    const double sg = g[i] * g[i];
    const double sm = m[i] * m[i];
    if (in_frame_ == 0) {
      frame_gate_ = sg;
      frame_measured_ = sm;
    } else {
      frame_gate_ = frame_gate_ + sg;
      frame_measured_ = frame_measured_ + sm;
    }
    ++i;
    if (++in_frame_ == len_) {
      classifier_.take(frame_gate_, frame_measured_, L_);
      in_frame_ = 0;
    }
  };
  while (in_frame_ > 0 && i < n) {
    take_sample();
  }
  // Whole frames straight from the chunk, a block of frames per kernel call.
  const std::size_t whole = (n - i) / len_;
  double gate_sums[kBlockFrames];
  double measured_sums[kBlockFrames];
  for (std::size_t first = 0; first < whole; first += kBlockFrames) {
    const std::size_t count = std::min(kBlockFrames, whole - first);
    const std::size_t offset = i + first * len_;
    kernels_->frame_sums(g + offset, m + offset, len_, count, gate_sums, measured_sums);
    for (std::size_t j = 0; j < count; ++j) {
      classifier_.take(gate_sums[j], measured_sums[j], L_);
    }
  }
  i += whole * len_;
  // The start of the next frame.
  while (i < n) {
    take_sample();
  }
}

Estimate Stream::finish() const noexcept {
  if (!usable_frame_length(L_)) {
    return refused(Reason::kBadRate, L_);
  }
  if (unequal_) {
    return refused(Reason::kBadInput, L_);
  }
  // F = floor(N / L) of the whole-array form: the frames taken, exactly, for
  // N < 2^31 (see check_input).
  const double F = frame_count(static_cast<double>(samples_), L_);
  const Framing framing{true, Reason::kFinite, L_, F, 0};
  return estimate_from_powers(framing, classifier_.powers);
}

}  // namespace quenbar
