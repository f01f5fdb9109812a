#include "audiomeasure/quality.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace am {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kFullScale = 32767.0;

}  // namespace

void QualityMeter::init() noexcept {
  fft_twiddles(twiddles_, kSegment);
  // A periodic Hann window: consecutive segments' windows add to a constant.
  for (int n = 0; n < kSegment; ++n) {
    window_[n] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / kSegment);
  }
  reset();
}

void QualityMeter::reset() noexcept {
  filled_ = 0;
  segments_ = 0;
  has_previous_ = false;
  q_ = StepQuality{};
  sum_ = sum_sq_ = 0.0;
  count_ = 0;
}

void QualityMeter::feed(const double* reference, const double* recording, std::int64_t n) noexcept {
  take(reference, recording, n);
}

void QualityMeter::feed(const float* reference, const double* recording, std::int64_t n) noexcept {
  take(reference, recording, n);
}

template <class Sample>
void QualityMeter::take(const Sample* reference, const double* recording, std::int64_t n) noexcept {
  for (std::int64_t i = 0; i < n; ++i) {
    const double r = recording[i];
    sum_ += r;
    sum_sq_ += r * r;
    q_.clipped += std::fabs(r) >= kFullScale ? 1 : 0;
    const double x = static_cast<double>(static_cast<float>(reference[i]));
    segment_[filled_] = {x * window_[filled_], r * window_[filled_]};
    if (++filled_ == kSegment) {
      take_segment();
      filled_ = 0;
    }
  }
  count_ += n;
}

void QualityMeter::take_segment() noexcept {
  if (segments_ == 0) {
    std::fill_n(sxx_, kBins, 0.0);
    std::fill_n(srr_, kBins, 0.0);
    std::fill_n(sxr_, kBins, Complex());
  }
  fft<false>(segment_, kSegment, twiddles_);
  // Both real signals from the one transform z = x + i r:
  // X_k = (Z_k + conj Z_(N-k)) / 2, R_k = (Z_k - conj Z_(N-k)) / 2i.
  for (int k = 0; k < kBins; ++k) {
    const Complex zk = segment_[k];
    const Complex zm = std::conj(segment_[(kSegment - k) % kSegment]);
    const Complex x = (zk + zm) * 0.5;
    const Complex r = times(zk - zm, Complex(0.0, -0.5));
    sxx_[k] += std::norm(x);
    srr_[k] += std::norm(r);
    sxr_[k] += times(std::conj(x), r);
  }
  if (++segments_ == kSegmentsPerFit) {
    end_fit();
    segments_ = 0;
  }
}

void QualityMeter::end_fit() noexcept {
  for (int k = 0; k < kBins; ++k) {
    // |S_xr|^2 <= S_xx S_rr: the fit explains at most what is there (the
    // bound kept against rounding).
    const double explained = sxx_[k] > 0.0 ? std::min(std::norm(sxr_[k]) / sxx_[k], srr_[k]) : 0.0;
    q_.explained += explained;
    q_.residual += srr_[k] - explained;
  }
  if (has_previous_) {
    // The turn of each frequency's cross-spectrum since the last run gives
    // the change of delay: angle = -2 pi (k / N) dt.
    for (int k = 1; k < kBins - 1; ++k) {
      const Complex turn = times(sxr_[k], std::conj(previous_sxr_[k]));
      const double w = std::abs(turn);
      if (w > 0.0) {
        const double dt = -std::arg(turn) * kSegment / (2.0 * std::numbers::pi * k);
        q_.delay_change += w * dt;
        q_.weight += w;
      }
    }
  }
  std::copy_n(sxr_, kBins, previous_sxr_);
  has_previous_ = true;
}

StepQuality QualityMeter::finish() const noexcept {
  StepQuality q = q_;
  q.noise_distortion_db =
      q.explained + q.residual > 0.0 ? 10.0 * std::log10(q.residual / q.explained) : kNaN;
  if (!has_previous_) {
    q.noise_distortion_db = kNaN;
  }
  if (count_ > 0) {
    const double mean = sum_ / static_cast<double>(count_);
    const double rms = std::sqrt(sum_sq_ / static_cast<double>(count_));
    q.dc_offset_db = rms > 0.0 ? 20.0 * std::log10(std::fabs(mean) / rms) : kNaN;
  } else {
    q.dc_offset_db = kNaN;
  }
  return q;
}

}  // namespace am
