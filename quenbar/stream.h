// The SNR estimate formed while the two signals arrive: the streaming form of
// estimate_with_diagnostics, for hosts that decode long recordings chunk by
// chunk (quenbar-snr) and should not hold them whole.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "quenbar/constants.h"
#include "quenbar/kernels.h"
#include "quenbar/snr.h"

namespace quenbar {

// Frames whose sums of squares one kernel call forms: the sums wait on the
// stack (4 KiB) for the in-order pass over the levels, so the estimate needs
// no heap. Each SIMD lane sums a run of 64 (AVX2) or 128 (SSE2) consecutive
// frames of a block: long unbroken streams through memory.
inline constexpr std::size_t kBlockFrames = 256;

// The measured signal's power summed over the active and the inactive
// frames, in frame order, and the count of active frames.
struct FramePowers {
  double active_sum = 0.0;
  double inactive_sum = 0.0;
  std::int64_t active_frames = 0;
};

// Frame classification, one frame at a time in frame order (frames count
// from 0): the frame's gate level, clamped to the floor and smoothed with
// the previous frame's, decides whether the measured signal's power in the
// frame counts as active or as inactive. Both forms of the estimate run
// their frames through this one body.
struct FrameClassifier {
  FramePowers powers;
  double previous = 0.0;    // the previous frame's smoothed level
  std::int64_t frames = 0;  // frames taken

  // gate_sum, measured_sum: the frame's sums of squares (kernels::Table);
  // L: samples per frame. In order: level, clamp, power, smoothing, decision.
  void take(double gate_sum, double measured_sum, double L) noexcept {
    const double rms = std::sqrt(gate_sum / L);
    double level = 20.0 * std::log10((rms + kLevelOffset) / kFullScale);
    if (level < kFloorDb || std::isnan(level)) {
      level = kFloorDb;
    }
    const double power = measured_sum / L;
    if (frames >= 1) {
      const double own = level * kKeep;
      const double carried = previous * kCarry;
      level = own + carried;
    }
    previous = level;
    ++frames;
    if (level > kActiveDb) {
      ++powers.active_frames;
      powers.active_sum += power;
    } else {
      powers.inactive_sum += power;
    }
  }
};

// Fed the gate and the measured signal in order, in pairs of chunks of any
// equal length, finish() gives the Estimate that estimate_with_diagnostics
// gives on the whole arrays (the gate's length N being the samples fed),
// bit for bit: the samples after the last whole frame are not read, a rate
// below 200 Hz (or NaN, or infinite) gives Reason::kBadRate, and chunks of
// unequal lengths give Reason::kBadInput. Whole frames inside a chunk are
// summed by the kernel table, a block of frames per call, straight from the
// caller's chunk; a frame split between chunks is summed as it arrives, in
// the same one accumulator from its first sample to its last (the bits of
// the kernels' straightforward loop). Keeps no samples, allocates nothing;
// one stream per thread. At most 2^31 - 1 samples, as in the whole-array
// form.
class Stream {
 public:
  explicit Stream(double fs, const kernels::Table& kernels = kernels::best()) noexcept;

  // The next samples of both signals: gate and measured, equal lengths, read.
  void feed(std::span<const double> gate, std::span<const double> measured) noexcept;

  // The estimate over every whole frame fed so far (more may still be fed).
  Estimate finish() const noexcept;

  // Samples of each signal fed so far.
  std::int64_t samples() const noexcept { return samples_; }

 private:
  const kernels::Table* kernels_;
  double L_;              // samples per frame, as the estimate computes it
  std::size_t len_ = 0;   // L_ as a count; 0 when the rate is refused
  bool unequal_ = false;  // chunks of unequal lengths were fed
  std::int64_t samples_ = 0;
  std::size_t in_frame_ = 0;  // samples of the frame in progress taken
  double frame_gate_ = 0.0;   // their sums of squares so far
  double frame_measured_ = 0.0;
  FrameClassifier classifier_;
};

}  // namespace quenbar
