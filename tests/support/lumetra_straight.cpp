#include "support/lumetra_straight.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#include "lumetra.h"

namespace straight {
namespace {

constexpr int kSpan = 720000;
constexpr int kLags = 1439999;

// Sets a one-dimensional record to n elements: old count, new extent, growth.
void set_length(emxArray_real_T* x, std::int32_t n) {
  const std::int32_t old = x->size[0];
  x->size[0] = n;
  emxEnsureCapacity_real_T(x, old);
}

// 20 log10(b_rms(x) / 32767).
double level_of(const emxArray_real_T* x) {
  return 20.0 * std::log10(b_rms(x) / 32767.0);
}

}  // namespace

lumetra::Onsets crude_align(const double* reference, std::int64_t reference_length, double* delay,
                            double* delay_too_large, const double* sig_tmp, double* b_sig_tmp) {
  *delay_too_large = 0.0;
  for (int k = 0; k < kSpan; ++k) {
    b_sig_tmp[k] = 0.0;
  }
  double rec_threshold = rms(sig_tmp) + 1e-6;
  b_log10(&rec_threshold);
  rec_threshold = 20.0 * rec_threshold;
  rec_threshold = rec_threshold - 12.0;

  double ref_window[200] = {};
  double rec_window[200] = {};
  std::int32_t ref_onset = 0;
  std::int32_t rec_onset = 0;
  emxArray_real_T* frame = nullptr;
  emxInit_real_T(&frame, 1);
  for (int i = 0;; ++i) {
    for (int k = 199; k >= 1; --k) {
      ref_window[k] = ref_window[k - 1];
      rec_window[k] = rec_window[k - 1];
    }
    ref_window[0] = 0.0;
    rec_window[0] = 0.0;

    set_length(frame, 241);
    for (int k = 0; k < 241; ++k) {
      const std::int64_t p = 240 * static_cast<std::int64_t>(i) + k;
      frame->data[k] = p < reference_length ? reference[p] : 0.0;
    }
    double L = b_rms(frame) + 1e-6;
    b_log10(&L);
    L = 20.0 * L;
    if (L > -50.0) {
      ref_window[0] = 1.0;
    }

    set_length(frame, 241);
    for (int k = 0; k < 241; ++k) {
      const int p = 240 * i + k;
      frame->data[k] = p < kSpan ? sig_tmp[p] : 0.0;
    }
    double M = b_rms(frame) + 1e-6;
    b_log10(&M);
    M = 20.0 * M;
    if (M > rec_threshold) {
      rec_window[0] = 1.0;
    }

    if (ref_onset == 0 && sum(ref_window) > 160.0) {
      ref_onset = i + 1;
    }
    if (rec_onset == 0 && sum(rec_window) > 160.0) {
      rec_onset = i + 1;
    }
    if ((ref_onset != 0 && rec_onset != 0) || i + 1 == 3000) {
      break;
    }
  }
  emxFree_real_T(&frame);

  *delay = static_cast<double>(ref_onset - rec_onset) * 240.0;
  const double d = *delay;
  if (d >= 0.0 && d <= 719999.0) {
    const int shift = static_cast<int>(d);
    for (int k = 0; k <= 719999 - shift; ++k) {
      b_sig_tmp[shift + k] = sig_tmp[k];
    }
  } else if (d < 0.0 && -d <= 719999.0) {
    const int m = static_cast<int>(-d);
    for (int k = m; k <= 719999; ++k) {
      b_sig_tmp[k - m] = sig_tmp[k];
    }
  }
  if (*delay > 360000.0) {
    *delay_too_large = 1.0;
  }
  return {ref_onset, rec_onset};
}

lumetra::Peak find_peak(const double* cross_cor) {
  // 1-based: cross_cor(J) is cross_cor[J - 1].
  std::int32_t peakIndex = 1;
  std::int32_t start = 2;
  if (rtIsNaN(cross_cor[0])) {
    start = kLags + 1;
    for (std::int32_t J = 2; J <= kLags; ++J) {
      if (!rtIsNaN(cross_cor[J - 1])) {
        peakIndex = J;
        start = J + 1;
        break;
      }
    }
  }
  double peakValue = cross_cor[peakIndex - 1];
  for (std::int32_t J = start; J <= kLags; ++J) {
    if (cross_cor[J - 1] > peakValue) {
      peakValue = cross_cor[J - 1];
      peakIndex = J;
    }
  }
  return {peakIndex, peakValue};
}

lumetra::Levels measure(const emxArray_real_T* aligned, double stepPeriod) {
  lumetra::Levels out{};
  const std::int32_t Nref = aligned->size[0];
  emxArray_real_T* segment = nullptr;
  emxArray_real_T* settled = nullptr;
  emxArray_real_T* block = nullptr;
  emxInit_real_T(&segment, 1);
  emxInit_real_T(&settled, 1);
  emxInit_real_T(&block, 1);
  for (int k = 0; k < 11; ++k) {
    out.step_range[k] = 0.0;
  }
  for (int k = 0; k < 11; ++k) {
    const double kk = (static_cast<double>(k) + 1.0) - 1.0;
    // 1-based positions first .. last of the aligned recording.
    std::int64_t first = 1;
    std::int64_t last = 0;
    if (k < 10) {
      const double a = std::floor((kk * stepPeriod) * 48000.0);
      const double b = std::floor(((kk + 1.0) * stepPeriod) * 48000.0);
      if (a < b) {
        first = static_cast<std::int64_t>(a) + 720001;
        last = static_cast<std::int64_t>(b) + 720000;
      }
    } else {
      const double a = std::floor((10.0 * stepPeriod) * 48000.0);
      if (a + 720000.0 < Nref) {
        first = static_cast<std::int64_t>(a) + 720001;
        last = Nref;
      }
    }
    const auto L = static_cast<std::int32_t>(last - first + 1);
    set_length(segment, L);
    for (std::int32_t i = 0; i < L; ++i) {
      segment->data[i] = aligned->data[first - 1 + i];
    }
    const double h = std::floor(static_cast<double>(L) * 0.5 + 1.0);
    std::int32_t M = 0;
    if (L >= h) {
      M = L - static_cast<std::int32_t>(h) + 1;
      set_length(settled, M);
      for (std::int32_t i = 0; i < M; ++i) {
        settled->data[i] = segment->data[static_cast<std::int32_t>(h) - 1 + i];
      }
    } else {
      set_length(settled, 0);
    }
    out.step_level[k] = level_of(settled);
    const double n = std::floor(static_cast<double>(M) / 2400.0);
    if (M == 0 || n < 1.0) {
      out.step_range[k] = -120.0;
    } else {
      double lo = 0.0;
      double hi = -120.0;
      for (std::int32_t j = 0; j < static_cast<std::int32_t>(n); ++j) {
        set_length(block, 2400);
        for (int i = 0; i < 2400; ++i) {
          block->data[i] = settled->data[2400 * j + i];
        }
        const double v = level_of(block);
        if (v < lo) {
          lo = v;
        }
        if (v > hi) {
          hi = v;
        }
      }
      out.step_range[k] = hi - lo;
    }
  }
  emxFree_real_T(&block);
  emxFree_real_T(&settled);
  emxFree_real_T(&segment);

  // The largest value, signed, NaN-aware: the first non-NaN, then strictly
  // greater ones; all NaN gives the first.
  const double* x = aligned->data;
  double largest = x[0];
  if (Nref == 2) {
    if (x[1] > x[0] || (rtIsNaN(x[0]) && !rtIsNaN(x[1]))) {
      largest = x[1];
    }
  } else if (Nref > 2) {
    std::int32_t idx = 0;
    for (std::int32_t i = 1; i <= Nref; ++i) {
      if (!rtIsNaN(x[i - 1])) {
        idx = i;
        break;
      }
    }
    if (idx != 0) {
      largest = x[idx - 1];
      for (std::int32_t i = idx + 1; i <= Nref; ++i) {
        if (x[i - 1] > largest) {
          largest = x[i - 1];
        }
      }
    }
  }
  out.peak_level = 20.0 * std::log10((largest + 1e-6) / 32767.0);
  return out;
}

lumetra::Estimate estimate(const emxArray_real_T* reference, const emxArray_real_T* recording,
                           double stepMode, lumetra::Correlator correlate) {
  static std::vector<double> sig_tmp(kSpan);
  static std::vector<double> b_sig_tmp(kSpan);
  static std::vector<double> dv0(kLags);
  static std::vector<double> cross_cor(kLags);
  lumetra::Estimate e{};
  lumetra::Diagnostics& d = e.diagnostics;
  const double stepPeriod = stepMode == 0.0 ? 25.2 : 24.7;
  std::memcpy(sig_tmp.data(), recording->data, sizeof(double) * kSpan);
  double delay = 0.0;
  double delay_too_large = 0.0;
  d.onsets = crude_align(reference->data, reference->size[0], &delay, &delay_too_large,
                         sig_tmp.data(), b_sig_tmp.data());
  d.coarse_delay = delay;
  d.coarse_too_large = delay_too_large;
  correlate(reference->data, b_sig_tmp.data(), dv0.data());
  b_abs(dv0.data(), cross_cor.data());
  d.peak = find_peak(cross_cor.data());
  const double totalDelay = (720000.0 - d.peak.index) - delay;
  d.total_delay = totalDelay;
  d.trust_ratio = rtGetNaN();

  double failed = 0.0;
  std::uint32_t causes = 0;
  if (delay_too_large > 0.0 || std::fabs(totalDelay) > 240000.0) {
    failed = 1.0;
    causes |= delay_too_large > 0.0 ? lumetra::kCoarseTooLarge : 0u;
    causes |= std::fabs(totalDelay) > 240000.0 ? lumetra::kDelayOutOfRange : 0u;
  } else if (d.peak.index - 240000 < 1 || d.peak.index + 240000 > kLags) {
    failed = 1.0;
    causes |= lumetra::kPeakNearEnd;
  } else {
    emxArray_real_T* window = nullptr;
    emxInit_real_T(&window, 1);
    set_length(window, 480001);
    for (int i = 0; i < 480001; ++i) {
      window->data[i] = cross_cor[static_cast<std::size_t>(d.peak.index - 240000 - 1 + i)];
    }
    const double s = b_sum(window);
    emxFree_real_T(&window);
    const double ratio = (s - d.peak.value) / (d.peak.value * 480000.0);
    d.trust_ratio = ratio;
    if (ratio > 0.04) {
      failed = 1.0;
      causes |= lumetra::kPeakNotProminent;
    }
  }

  const std::int32_t Nref = reference->size[0];
  const std::int32_t Nrec = recording->size[0];
  emxArray_real_T* alignedRecording = nullptr;
  emxInit_real_T(&alignedRecording, 1);
  set_length(alignedRecording, Nref);
  for (std::int32_t i = 0; i < Nref; ++i) {
    alignedRecording->data[i] = 0.0;
  }
  d.copy = lumetra::Copy::kFailed;
  d.aligned_samples = 0;
  if (totalDelay <= 0.0 || failed != 0.0) {
    failed = 1.0;
    causes |= totalDelay <= 0.0 ? lumetra::kNotLagging : 0u;
  } else if (totalDelay <= Nrec - Nref) {
    const auto t = static_cast<std::int64_t>(totalDelay);
    for (std::int32_t i = 0; i < Nref; ++i) {
      alignedRecording->data[i] = recording->data[t + i];
    }
    d.copy = lumetra::Copy::kWhole;
    d.aligned_samples = Nref;
  } else if (totalDelay + 1.0 <= Nrec) {
    const auto t = static_cast<std::int64_t>(totalDelay);
    for (std::int64_t i = 0; i < Nrec - t; ++i) {
      alignedRecording->data[i] = recording->data[t + i];
    }
    d.copy = lumetra::Copy::kHead;
    d.aligned_samples = Nrec - t;
  }

  const lumetra::Levels levels = measure(alignedRecording, stepPeriod);
  emxFree_real_T(&alignedRecording);
  bool all_negative = true;
  for (int k = 0; k < 11; ++k) {
    e.step_level[k] = levels.step_level[k];
    e.step_range[k] = levels.step_range[k];
    all_negative = all_negative && levels.step_range[k] < 0.0;
  }
  if (all_negative) {
    failed = 1.0;
    causes |= lumetra::kNoUsableBlock;
  }
  e.peak_level = levels.peak_level;
  e.failed = failed;
  d.causes = causes;
  return e;
}

void remembered_xcorr(const double* x, const double* y, double* r) noexcept {
  static std::vector<double> last_x;
  static std::vector<double> last_y;
  static std::vector<double> last_r;
  const std::size_t bytes = sizeof(double) * kSpan;
  if (!last_r.empty() && std::memcmp(last_x.data(), x, bytes) == 0 &&
      std::memcmp(last_y.data(), y, bytes) == 0) {
    std::memcpy(r, last_r.data(), sizeof(double) * kLags);
    return;
  }
  xcorr(x, y, r);
  last_x.assign(x, x + kSpan);
  last_y.assign(y, y + kSpan);
  last_r.assign(r, r + kLags);
}

std::vector<std::uint64_t> estimate_bits(const lumetra::Estimate& e) {
  std::vector<std::uint64_t> b;
  for (int k = 0; k < lumetra::kSteps; ++k) {
    b.push_back(std::bit_cast<std::uint64_t>(e.step_level[k]));
    b.push_back(std::bit_cast<std::uint64_t>(e.step_range[k]));
  }
  const lumetra::Diagnostics& d = e.diagnostics;
  for (const double v : {e.peak_level, e.failed, d.coarse_delay, d.coarse_too_large, d.peak.value,
                         d.trust_ratio, d.total_delay}) {
    b.push_back(std::bit_cast<std::uint64_t>(v));
  }
  for (const std::int64_t v : {std::int64_t{d.onsets.reference}, std::int64_t{d.onsets.recording},
                               std::int64_t{d.peak.index}, static_cast<std::int64_t>(d.copy),
                               d.aligned_samples, std::int64_t{d.causes}}) {
    b.push_back(static_cast<std::uint64_t>(v));
  }
  return b;
}

}  // namespace straight
