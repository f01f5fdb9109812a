#include "audiomeasure/quality.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

namespace am {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kFullScale = 32767.0;

// Sums of r[0 .. n): the samples, their squares, those at or beyond full
// scale. Four lanes, added in a fixed order.
struct SegmentSums {
  double sum = 0.0;
  double sum_sq = 0.0;
  std::int64_t clipped = 0;
};
SegmentSums segment_sums(const double* r, int n) noexcept {
  double s[4] = {};
  double q[4] = {};
  SegmentSums out;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    for (int l = 0; l < 4; ++l) {
      const double v = r[i + l];
      s[l] += v;
      q[l] += v * v;
    }
  }
  for (; i < n; ++i) {
    s[0] += r[i];
    q[0] += r[i] * r[i];
  }
  for (int k = 0; k < n; ++k) {
    out.clipped += std::fabs(r[k]) >= kFullScale ? 1 : 0;
  }
  out.sum = (s[0] + s[1]) + (s[2] + s[3]);
  out.sum_sq = (q[0] + q[1]) + (q[2] + q[3]);
  return out;
}

// Stage h of the butterflies on blocks of 2h points at re, im: (a, b) :=
// (a + w b, a - w b), w = cos + i sin. Contiguous runs of h, written so that
// the compiler keeps every lane busy.
void butterflies(float* __restrict re, float* __restrict im, const float* __restrict wc,
                 const float* __restrict ws, int h) noexcept {
  for (int g = 0; g < kSegment; g += 2 * h) {
    float* ar = re + g;
    float* ai = im + g;
    float* br = re + g + h;
    float* bi = im + g + h;
    for (int j = 0; j < h; ++j) {
      const float tr = wc[j] * br[j] - ws[j] * bi[j];
      const float ti = wc[j] * bi[j] + ws[j] * br[j];
      const float a_r = ar[j];
      const float a_i = ai[j];
      br[j] = a_r - tr;
      bi[j] = a_i - ti;
      ar[j] = a_r + tr;
      ai[j] = a_i + ti;
    }
  }
}

}  // namespace

void QualityMeter::init() noexcept {
  constexpr int kBits = 10;
  static_assert(kSegment == 1 << kBits);
  for (int n = 0; n < kSegment; ++n) {
    int r = 0;
    for (int b = 0; b < kBits; ++b) {
      r |= ((n >> b) & 1) << (kBits - 1 - b);
    }
    reversed_[n] = r;
  }
  for (int h = 1; h < kSegment; h *= 2) {
    for (int j = 0; j < h; ++j) {
      const double angle = -std::numbers::pi * j / h;
      cos_[h + j] = static_cast<float>(std::cos(angle));
      sin_[h + j] = static_cast<float>(std::sin(angle));
    }
  }
  // A periodic Hann window: consecutive segments' windows add to a constant.
  for (int n = 0; n < kSegment; ++n) {
    window_[n] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / kSegment));
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

void QualityMeter::feed(const std::int16_t* reference, const double* recording,
                        std::int64_t n) noexcept {
  take(reference, recording, n);
}

template <class Sample>
void QualityMeter::take(const Sample* reference, const double* recording, std::int64_t n) noexcept {
  while (n > 0) {
    const int k = static_cast<int>(std::min<std::int64_t>(n, kSegment - filled_));
    for (int i = 0; i < k; ++i) {
      segment_x_[filled_ + i] = static_cast<float>(reference[i]);
    }
    std::memcpy(segment_r_ + filled_, recording, static_cast<std::size_t>(k) * sizeof(double));
    filled_ += k;
    reference += k;
    recording += k;
    n -= k;
    if (filled_ == kSegment) {
      take_segment();
      filled_ = 0;
    }
  }
}

void QualityMeter::take_segment() noexcept {
  const SegmentSums sums = segment_sums(segment_r_, kSegment);
  sum_ += sums.sum;
  sum_sq_ += sums.sum_sq;
  q_.clipped += sums.clipped;
  count_ += kSegment;
  for (int n = 0; n < kSegment; ++n) {
    const int at = reversed_[n];
    re_[at] = segment_x_[n] * window_[n];
    im_[at] = static_cast<float>(segment_r_[n]) * window_[n];
  }
  transform();
  if (segments_ == 0) {
    std::fill_n(sxx_, kBins, 0.0);
    std::fill_n(srr_, kBins, 0.0);
    std::fill_n(sxr_, kBins, Complex());
  }
  // Both real signals from the one transform z = x + i r:
  // X_k = (Z_k + conj Z_(N-k)) / 2, R_k = (Z_k - conj Z_(N-k)) / 2i.
  for (int k = 0; k < kBins; ++k) {
    const int m = (kSegment - k) % kSegment;
    const double xr = 0.5 * (static_cast<double>(re_[k]) + static_cast<double>(re_[m]));
    const double xi = 0.5 * (static_cast<double>(im_[k]) - static_cast<double>(im_[m]));
    const double rr = 0.5 * (static_cast<double>(im_[k]) + static_cast<double>(im_[m]));
    const double ri = 0.5 * (static_cast<double>(re_[m]) - static_cast<double>(re_[k]));
    sxx_[k] += xr * xr + xi * xi;
    srr_[k] += rr * rr + ri * ri;
    // conj(X) R
    sxr_[k] += Complex(xr * rr + xi * ri, xr * ri - xi * rr);
  }
  if (++segments_ == kSegmentsPerFit) {
    end_fit();
    segments_ = 0;
  }
}

void QualityMeter::transform() noexcept {
  // Radix-2 butterflies, decimation in time. The first two stages have the
  // twiddles 1 and -i only: joined, they need no product.
  for (int g = 0; g < kSegment; g += 4) {
    const float r0 = re_[g] + re_[g + 1];
    const float i0 = im_[g] + im_[g + 1];
    const float r1 = re_[g] - re_[g + 1];
    const float i1 = im_[g] - im_[g + 1];
    const float r2 = re_[g + 2] + re_[g + 3];
    const float i2 = im_[g + 2] + im_[g + 3];
    const float r3 = re_[g + 2] - re_[g + 3];
    const float i3 = im_[g + 2] - im_[g + 3];
    re_[g] = r0 + r2;
    im_[g] = i0 + i2;
    re_[g + 2] = r0 - r2;
    im_[g + 2] = i0 - i2;
    // (r1, i1) +- (-i)(r3, i3) = (r1 +- i3, i1 -+ r3)
    re_[g + 1] = r1 + i3;
    im_[g + 1] = i1 - r3;
    re_[g + 3] = r1 - i3;
    im_[g + 3] = i1 + r3;
  }
  for (int h = 4; h < kSegment; h *= 2) {
    butterflies(re_, im_, cos_ + h, sin_ + h, h);
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
    // the change of delay: angle = -2 pi (k / N) dt, weighted by the turn's
    // size. Frequencies a million times weaker than the strongest add
    // nothing that counts, and are left out.
    double w[kBins];
    double strongest = 0.0;
    for (int k = 1; k < kBins - 1; ++k) {
      const Complex turn = times(sxr_[k], std::conj(previous_sxr_[k]));
      w[k] = std::sqrt(turn.real() * turn.real() + turn.imag() * turn.imag());
      strongest = std::max(strongest, w[k]);
    }
    const double counted = strongest * 1e-6;
    for (int k = 1; k < kBins - 1; ++k) {
      if (w[k] > counted) {
        const Complex turn = times(sxr_[k], std::conj(previous_sxr_[k]));
        const double dt =
            -std::atan2(turn.imag(), turn.real()) * kSegment / (2.0 * std::numbers::pi * k);
        q_.delay_change += w[k] * dt;
        q_.weight += w[k];
      }
    }
  }
  std::copy_n(sxr_, kBins, previous_sxr_);
  has_previous_ = true;
}

StepQuality QualityMeter::finish() const noexcept {
  StepQuality q = q_;
  // The samples of the last, partial segment count for the offset and the
  // clipping.
  const SegmentSums tail = segment_sums(segment_r_, filled_);
  const double sum = sum_ + tail.sum;
  const double sum_sq = sum_sq_ + tail.sum_sq;
  const std::int64_t count = count_ + filled_;
  q.clipped += tail.clipped;
  // A whole fit is needed; one that explains nothing reads +Inf.
  q.noise_distortion_db = has_previous_ && q.explained + q.residual > 0.0
                              ? 10.0 * std::log10(q.residual / q.explained)
                              : kNaN;
  if (count > 0) {
    const double mean = sum / static_cast<double>(count);
    const double rms = std::sqrt(sum_sq / static_cast<double>(count));
    q.dc_offset_db = rms > 0.0 ? 20.0 * std::log10(std::fabs(mean) / rms) : kNaN;
  } else {
    q.dc_offset_db = kNaN;
  }
  return q;
}

}  // namespace am
