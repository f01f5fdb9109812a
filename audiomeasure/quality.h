// The quality of a step's reading: whether the recording in the step's
// settled (measured) half is the device's response to the stimulus, and the
// evidence of a clock drift between the two.
//
// Noise and distortion: the part of the recording that no linear response
// to the aligned reference explains. The settled half is cut into segments
// of kSegment samples (Hann-windowed); over each run of kSegmentsPerFit
// segments (85 ms at 48000 Hz) a response of its own is fitted, one gain and
// phase per frequency (H = S_xr / S_xx from the run's cross- and
// auto-spectra), so that a device that filters a broad-band step (any gain
// and phase at each frequency) is explained, and a response that changes
// slowly (a clock that drifts) is followed from run to run. What the fit
// explains, |S_xr|^2 / S_xx per frequency, and what is left, S_rr less that,
// are summed over the half; the figure is their ratio in dB, like THD+N. A
// run of 4 segments explains a quarter of the power of noise that has
// nothing to do with the reference, so noise reads about 1.2 dB low; a
// recording of other content (a restart, a wrong step) reads near +5 dB.
//
// Clock drift: a recording whose clock runs fast or slow slides against the
// reference, so each run's cross-spectrum turns against the previous run's
// by -2 pi f dt at frequency f, dt the change of delay over one run. The
// changes, weighted by the strength of the cross-spectra at each frequency,
// are summed over every pair of consecutive runs of every step.
//
// Also per half: the samples at or beyond full scale (clipped), and the DC
// offset relative to the step's level. The reference is taken as float
// (every value of a 16-bit or 24-bit file exactly), so that a reference kept
// by a streaming measurement and one handed over whole give the same
// figures to the last bit.
#pragma once

#include <cstdint>

#include "audiomeasure/fft.h"

namespace am {

inline constexpr int kSegment = 1024;      // samples per transform: 21.3 ms at 48000 Hz
inline constexpr int kSegmentsPerFit = 4;  // segments one response is fitted over
inline constexpr int kFitSamples = kSegment * kSegmentsPerFit;
inline constexpr int kBins = kSegment / 2 + 1;  // frequencies 0 .. fs/2

// What one step's settled half shows.
struct StepQuality {
  double noise_distortion_db = 0.0;  // residual over explained power; NaN without a whole fit
  double dc_offset_db = 0.0;         // 20 log10(|mean| / rms); NaN when nothing was fed
  std::int64_t clipped = 0;          // samples with |value| >= 32767
  // Drift evidence: sum of weight * change of delay (samples per run), and
  // the weights' sum.
  double delay_change = 0.0;
  double weight = 0.0;
  // Power explained and left over the whole fits.
  double explained = 0.0;
  double residual = 0.0;
};

// Fed the pairs (reference, recording) of one settled half in order, in
// chunks of any size, finish() gives the half's StepQuality; the samples
// after the last whole fit count for the DC offset and the clipping only.
// About 70 KB, on the heap of its owner; init() before the first feed.
class QualityMeter {
 public:
  void init() noexcept;
  // Starts a new half, forgetting the last.
  void reset() noexcept;
  void feed(const double* reference, const double* recording, std::int64_t n) noexcept;
  void feed(const float* reference, const double* recording, std::int64_t n) noexcept;
  void feed(const std::int16_t* reference, const double* recording, std::int64_t n) noexcept;
  StepQuality finish() const noexcept;

 private:
  template <class Sample>
  void take(const Sample* reference, const double* recording, std::int64_t n) noexcept;
  void take_segment() noexcept;
  void transform() noexcept;
  void end_fit() noexcept;

  // The segment in progress, as it comes: the reference (as float), the
  // recording.
  float segment_x_[kSegment];
  double segment_r_[kSegment];
  int filled_ = 0;    // samples of the segment in progress
  int segments_ = 0;  // segments of the fit in progress
  // The transform of z = reference + i recording, both windowed, in float
  // (a judgement needs no more: its rounding lies 140 dB below the
  // strongest frequency): split real and imaginary parts, stored at their
  // bit-reversed indices so that the butterflies run in place to natural
  // order.
  float re_[kSegment];
  float im_[kSegment];
  int reversed_[kSegment];
  // Stage h of the butterflies (h = 4, 8, ...) finds its twiddles
  // e^(-i pi j / h), j < h, at [h, 2h).
  float cos_[kSegment];
  float sin_[kSegment];
  float window_[kSegment];
  // The fit in progress: auto- and cross-spectra summed over its segments.
  double sxx_[kBins];
  double srr_[kBins];
  Complex sxr_[kBins];
  Complex previous_sxr_[kBins];  // the last whole fit's cross-spectrum
  bool has_previous_ = false;
  StepQuality q_;
  // The recording's samples and their squares, each segment's summed
  // apart and then added in segment order (so the sums do not depend on
  // how the samples were cut into chunks); count_ holds the samples of the
  // whole segments.
  double sum_ = 0.0;
  double sum_sq_ = 0.0;
  std::int64_t count_ = 0;
};

}  // namespace am
