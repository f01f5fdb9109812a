// Gain estimation of a stepped test signal: coarse and fine alignment of the
// recording to the reference, the trust test, and the phases around them,
// in a caller's workspace.
// Sample positions count from 0; onset frames and the correlation peak index
// from 1.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <utility>

#include "lumetra/estimation.h"
#include "runtime/alloc.h"
#include "runtime/emx.h"
#include "runtime/huge_pages.h"
#include "runtime/sum.h"
#include "spectral/spectral.h"

namespace lumetra {
namespace {

// Activity flags of the last kWindowFrames frames and how many of them are
// set. Counting 0/1 flags is exact, so the running count equals the sum of
// the window.
class OnsetWindow {
 public:
  // Drops the oldest frame's flag and takes the newest.
  void push(bool active) noexcept {
    count_ -= flags_[oldest_];
    flags_[oldest_] = active ? 1 : 0;
    count_ += flags_[oldest_];
    oldest_ = oldest_ + 1 == kWindowFrames ? 0 : oldest_ + 1;
  }
  bool onset() const noexcept { return count_ > kOnsetCount; }

 private:
  unsigned char flags_[kWindowFrames] = {};
  int oldest_ = 0;
  int count_ = 0;
};

// 20 log10(rms + 1e-6) of a frame from its sum of squares, in dB re 1.0.
double frame_level(double sum_of_squares) noexcept {
  const double rms = std::sqrt(sum_of_squares / static_cast<double>(kFrame));
  return 20.0 * std::log10(rms + kLevelOffset);
}

// Sums of squares of frames first .. first + count - 1 of a signal; positions
// the signal does not hold count as 0.0.
void frame_sums(const kernels::Table& kernels, std::span<const double> x, std::int64_t first,
                std::int64_t count, double* sums) noexcept {
  const auto held = static_cast<std::int64_t>(x.size());
  // Frames [0, inside) lie wholly inside the signal.
  const std::int64_t inside = held >= kFrame ? (held - kFrame) / kHop + 1 : 0;
  const std::int64_t fast = std::clamp(inside - first, std::int64_t{0}, count);
  if (fast > 0) {
    kernels.frame_sums(x.data(), first, fast, sums);
  }
  for (std::int64_t f = fast; f < count; ++f) {
    const std::int64_t start = kHop * (first + f);
    // acc holds the squares of the frame's first k positions, left to right.
    double acc = 0.0;
    for (std::int64_t k = 0; k < kFrame; ++k) {
      const double v = start + k < held ? x[static_cast<std::size_t>(start + k)] : 0.0;
      const double sq = v * v;
      acc += sq;
    }
    sums[f] = acc;
  }
}

// b_sig_tmp = sig_tmp moved later by d samples (earlier when d < 0), 0.0
// where nothing lands; |d| >= kSpan leaves it all zero.
void move_recording(std::int64_t d, std::span<const double, kSpan> from,
                    std::span<double, kSpan> to) noexcept {
  const std::int64_t shift = d < 0 ? -d : d;
  if (shift >= kSpan) {
    std::fill(to.begin(), to.end(), 0.0);
    return;
  }
  const auto kept = static_cast<std::size_t>(kSpan - shift);
  if (d >= 0) {
    std::fill_n(to.begin(), shift, 0.0);
    std::memcpy(to.data() + shift, from.data(), kept * sizeof(double));
  } else {
    std::memcpy(to.data(), from.data() + shift, kept * sizeof(double));
    std::fill(to.begin() + static_cast<std::int64_t>(kept), to.end(), 0.0);
  }
}

// The estimation's own arrays in the workspace (see Workspace): the
// coarsely moved recording opening, and the correlation magnitudes (the
// correlation made absolute in place).
std::span<double, kSpan> moved_opening(const Workspace& w) noexcept {
  return std::span<double, kSpan>(w.spectral.work[0] + kMovedOpeningAt, kSpan);
}
std::span<double, kLags> magnitudes(const Workspace& w) noexcept {
  return std::span<double, kLags>(w.spectral.work[0] + kMagnitudesAt, kLags);
}

Estimate refused(std::uint32_t causes) noexcept {
  Estimate e{};
  const double nan = rtGetNaN();
  std::fill_n(e.step_level, kSteps, nan);
  std::fill_n(e.step_range, kSteps, nan);
  e.peak_level = nan;
  e.failed = 1.0;
  Diagnostics& d = e.diagnostics;
  d.onsets = {0, 0};
  d.coarse_delay = nan;
  d.coarse_too_large = nan;
  d.peak = {0, nan};
  d.trust_ratio = nan;
  d.total_delay = nan;
  d.copy = Copy::kFailed;
  d.aligned_samples = 0;
  d.causes = causes;
  return e;
}

// Phase 1, input checks: the causes for refusing the records (unreadable,
// or shorter than the procedure reads), before either array is read; 0 when
// none holds.
std::uint32_t check_input(std::int64_t n_ref, std::int64_t n_rec, double period) noexcept {
  std::uint32_t refusal = 0;
  if (n_ref < 0 || n_rec < 0) {
    refusal |= kUnreadableInput;
  }
  if ((n_ref >= 0 && n_ref < required_reference_length(period)) ||
      (n_rec >= 0 && n_rec < kMinRecording)) {
    refusal |= kShortInput;
  }
  return refusal;
}

// Phase 2, alignment: the coarse alignment of the recording's opening
// (sig_tmp, its first kSpan samples, read where they are), then the fine one
// by the peak of the correlation of the reference's opening with the
// coarsely moved recording, both in the workspace w. Fills the onsets, the
// coarse delay and its flag, the peak and the total delay of d, and leaves
// the correlation magnitudes in magnitudes(w).
void align(std::span<const double> reference, std::span<const double, kSpan> sig_tmp,
           const Workspace& w, Correlator correlate, const kernels::Table& kernels,
           Diagnostics& d) noexcept {
  const std::span<double, kSpan> b_sig_tmp = moved_opening(w);
  const std::span<double, kLags> r = magnitudes(w);
  d.onsets =
      crude_align(reference, &d.coarse_delay, &d.coarse_too_large, sig_tmp, b_sig_tmp, kernels);
  const std::span<const double, kSpan> reference_opening = reference.first<kSpan>();
  if (correlate != nullptr) {
    correlate(reference_opening.data(), b_sig_tmp.data(), r.data());
  } else {
    spectral::cross_correlate(reference_opening, b_sig_tmp, r, w.spectral, *w.tables);
  }
  spectral::abs_lags(r, r);
  d.peak = find_peak(r, kernels);
  d.total_delay =
      (static_cast<double>(kLagZero) - static_cast<double>(d.peak.index)) - d.coarse_delay;
}

// Phase 3, trust test: the causes of distrust of the alignment (a coarse
// delay or a total delay out of range, a peak whose trust window leaves the
// correlation or that does not stand out, a recording that does not lag).
// Sets d.trust_ratio where the test reaches it, else NaN.
std::uint32_t trust_test(std::span<const double, kLags> magnitudes, Diagnostics& d) noexcept {
  d.trust_ratio = rtGetNaN();
  std::uint32_t causes = 0;
  if (d.coarse_too_large > 0.0) {
    causes |= kCoarseTooLarge;
  }
  if (std::fabs(d.total_delay) > kMaxDelay) {
    causes |= kDelayOutOfRange;
  }
  if (causes == 0) {
    if (!trust_window_fits(d.peak.index)) {
      causes |= kPeakNearEnd;
    } else {
      d.trust_ratio = trust_ratio(magnitudes, d.peak);
      // A NaN ratio does not exceed the limit.
      if (d.trust_ratio > kTrustLimit) {
        causes |= kPeakNotProminent;
      }
    }
  }
  if (d.total_delay <= 0.0) {
    causes |= kNotLagging;
  }
  return causes;
}

// Phase 4, aligned extent: recording samples from position totalDelay on,
// 0.0 past the recording's end, all 0.0 when the alignment failed (causes
// not 0). Returns the view with data null, to be pointed at recording
// position `start` (totalDelay, or 0 when the alignment failed). Sets d.copy
// and d.aligned_samples.
Aligned aligned_extent(std::int64_t n_ref, std::int64_t n_rec, std::uint32_t causes,
                       std::int64_t& start, Diagnostics& d) noexcept {
  Aligned aligned{nullptr, n_ref, 0};
  start = 0;
  d.copy = Copy::kFailed;
  if (causes == 0) {
    // 1 <= totalDelay <= 240000 here, an integer, and the recording holds at
    // least 720000 samples, so it reaches past position totalDelay.
    start = static_cast<std::int64_t>(d.total_delay);
    if (start <= n_rec - n_ref) {
      aligned.valid = n_ref;
      d.copy = Copy::kWhole;
    } else {
      aligned.valid = n_rec - start;
      d.copy = Copy::kHead;
    }
  }
  d.aligned_samples = aligned.valid;
  return aligned;
}

// Phase 5, the verdict: the no-usable-block cause, the causes and failed.
void conclude(const Levels& levels, std::uint32_t causes, Estimate& e) noexcept {
  std::copy_n(levels.step_level, kSteps, e.step_level);
  std::copy_n(levels.step_range, kSteps, e.step_range);
  e.peak_level = levels.peak_level;
  if (std::all_of(e.step_range, e.step_range + kSteps, [](double r) { return r < 0.0; })) {
    causes |= kNoUsableBlock;
  }
  e.diagnostics.causes = causes;
  e.failed = causes != 0 ? 1.0 : 0.0;
}

}  // namespace

Onsets crude_align(std::span<const double> reference, double* delay, double* delay_too_large,
                   std::span<const double, kSpan> sig_tmp, std::span<double, kSpan> b_sig_tmp,
                   const kernels::Table& kernels) noexcept {
  *delay_too_large = 0.0;
  // The recording's activity threshold: its overall level less 12 dB.
  const double overall = spectral::rms_span(sig_tmp);
  const double rec_threshold = 20.0 * std::log10(overall + kLevelOffset) - kRecordingMarginDb;

  OnsetWindow ref_window;
  OnsetWindow rec_window;
  Onsets onsets{0, 0};
  // Frame levels come in chunks; a signal whose onset is known needs no more,
  // since its window is not consulted again.
  constexpr std::int64_t kChunk = 48;
  double ref_sums[kChunk];
  double rec_sums[kChunk];
  for (std::int64_t chunk = 0; chunk < kMaxFrames; chunk += kChunk) {
    const std::int64_t count = std::min(kChunk, kMaxFrames - chunk);
    if (onsets.reference == 0) {
      frame_sums(kernels, reference, chunk, count, ref_sums);
    }
    if (onsets.recording == 0) {
      frame_sums(kernels, sig_tmp, chunk, count, rec_sums);
    }
    for (std::int64_t f = 0; f < count; ++f) {
      const auto frame_number = static_cast<std::int32_t>(chunk + f + 1);
      if (onsets.reference == 0) {
        ref_window.push(frame_level(ref_sums[f]) > kReferenceActiveDb);
        if (ref_window.onset()) {
          onsets.reference = frame_number;
        }
      }
      if (onsets.recording == 0) {
        rec_window.push(frame_level(rec_sums[f]) > rec_threshold);
        if (rec_window.onset()) {
          onsets.recording = frame_number;
        }
      }
      if (onsets.reference != 0 && onsets.recording != 0) {
        break;
      }
    }
    if (onsets.reference != 0 && onsets.recording != 0) {
      break;
    }
  }

  const std::int32_t frames = onsets.reference - onsets.recording;  // -3000 .. 3000
  *delay = static_cast<double>(frames) * static_cast<double>(kHop);
  move_recording(static_cast<std::int64_t>(frames) * kHop, sig_tmp, b_sig_tmp);
  if (*delay > kCoarseDelayLimit) {
    *delay_too_large = 1.0;
  }
  return onsets;
}

Peak find_peak(std::span<const double, kLags> magnitudes, const kernels::Table& kernels) noexcept {
  std::size_t first = 0;
  while (first < magnitudes.size() && std::isnan(magnitudes[first])) {
    ++first;
  }
  if (first == magnitudes.size()) {
    return {1, magnitudes[0]};
  }
  // A scan that keeps the first non-NaN value and then only strictly greater
  // ones ends at the first position of the largest value.
  const double high =
      kernels.max_skip_nan(magnitudes.data() + first,
                           static_cast<std::int64_t>(magnitudes.size() - first), magnitudes[first]);
  std::size_t j = first;
  while (!(magnitudes[j] == high)) {
    ++j;
  }
  return {static_cast<std::int32_t>(j + 1), magnitudes[j]};
}

double trust_ratio(std::span<const double, kLags> magnitudes, Peak peak) noexcept {
  const double* window = magnitudes.data() + (peak.index - 1 - kTrustHalfWidth);
  const double sum = runtime::sum_span(window, kTrustOffPeak + 1);
  return (sum - peak.value) / (peak.value * static_cast<double>(kTrustOffPeak));
}

Estimate estimate(const emxArray_real_T* reference, const emxArray_real_T* recording,
                  double stepMode, const Workspace& workspace, const Options& options) noexcept {
  const double period = step_period(stepMode);
  const std::int64_t n_ref = runtime::vector_length(reference);
  const std::int64_t n_rec = runtime::vector_length(recording);
  if (const std::uint32_t refusal = check_input(n_ref, n_rec, period); refusal != 0) {
    return refused(refusal);
  }
  const kernels::Table& kernels = options.kernels != nullptr ? *options.kernels : kernels::best();

  Estimate e{};
  Diagnostics& d = e.diagnostics;
  align({reference->data, static_cast<std::size_t>(n_ref)},
        std::span<const double, kSpan>(recording->data, kSpan), workspace, options.correlate,
        kernels, d);
  std::uint32_t causes = trust_test(magnitudes(workspace), d);
  std::int64_t start = 0;
  Aligned aligned = aligned_extent(n_ref, n_rec, causes, start, d);
  aligned.data = recording->data + start;
  conclude(measure(aligned, step_layout(period, n_ref), kernels), causes, e);
  return e;
}

EstimateStream::EstimateStream(std::span<const double> reference_opening,
                               std::span<const double> recording_opening, std::int64_t n_ref,
                               double stepMode, const Workspace& workspace,
                               const Options& options) noexcept
    : n_ref_(n_ref),
      meter_(StepLayout{}, 0, options.kernels != nullptr ? *options.kernels : kernels::best()) {
  const double period = step_period(stepMode);
  // The recording's length is known at the end; its opening is all the
  // alignment reads.
  std::uint32_t refusal =
      check_input(n_ref, static_cast<std::int64_t>(recording_opening.size()), period);
  // The openings must hold what the alignment reads (check_input has made
  // sure the lengths do).
  if (refusal == 0 && (static_cast<std::int64_t>(reference_opening.size()) < kSpan + 1 ||
                       static_cast<std::int64_t>(recording_opening.size()) < kSpan)) {
    refusal = kShortInput;
  }
  if (refusal != 0) {
    estimate_ = refused(refusal);
    refused_ = true;
    return;
  }
  const kernels::Table& kernels = options.kernels != nullptr ? *options.kernels : kernels::best();
  Diagnostics& d = estimate_.diagnostics;
  align(reference_opening.first(kSpan + 1), recording_opening.first<kSpan>(), workspace,
        options.correlate, kernels, d);
  causes_ = trust_test(magnitudes(workspace), d);
  // A recording that goes on past the reference's end: the meter takes
  // every aligned position the recording can fill.
  valid_ =
      aligned_extent(n_ref, std::numeric_limits<std::int64_t>::max(), causes_, start_, d).valid;
  meter_ = StepMeter(step_layout(period, n_ref), n_ref, kernels);
}

void EstimateStream::feed_recording(std::span<const double> chunk) noexcept {
  // The chunk holds recording positions [fed_, fed_ + size); the meter takes
  // those in [start_, start_ + valid_), at aligned position minus start_.
  const std::int64_t begin = fed_;
  const auto n = static_cast<std::int64_t>(chunk.size());
  fed_ = begin + n;
  if (refused_) {
    return;
  }
  const std::int64_t from = std::max(begin, start_);
  const std::int64_t to = std::min(begin + n, start_ + valid_);
  if (from < to) {
    meter_.feed(
        chunk.subspan(static_cast<std::size_t>(from - begin), static_cast<std::size_t>(to - from)));
  }
}

namespace {

// Workspaces given back, kept for the next ones: a fresh block costs the
// system zeroing 68 MB of pages at its first touch, as long again as the
// estimation itself, and on two threads the faults queue behind each
// other. At most kSpares are kept; the rest go back to the heap.
constexpr int kSpares = 2;
std::atomic<double*> g_spares[kSpares];
constexpr std::size_t kWorkspaceBytes =
    sizeof(double) * static_cast<std::size_t>(spectral::kWorkspaceDoubles);

double* take_spare() noexcept {
  for (std::atomic<double*>& s : g_spares) {
    if (double* block = s.exchange(nullptr, std::memory_order_acq_rel); block != nullptr) {
      return block;
    }
  }
  return nullptr;
}

bool put_spare(double* block) noexcept {
  for (std::atomic<double*>& s : g_spares) {
    double* empty = nullptr;
    if (s.compare_exchange_strong(empty, block, std::memory_order_acq_rel)) {
      return true;
    }
  }
  return false;
}

}  // namespace

HeapWorkspace::HeapWorkspace() noexcept {
  const spectral::Tables* tables = spectral::shared_tables();
  if (tables == nullptr) {
    return;
  }
  block_ = take_spare();
  if (block_ != nullptr && !runtime::reuse_granted(kWorkspaceBytes)) {
    // Refused (the allocation seam of the tests): the spare stays a spare.
    put_spare(std::exchange(block_, nullptr));
    return;
  }
  if (block_ == nullptr) {
    block_ = static_cast<double*>(runtime::allocate_large(kWorkspaceBytes));
  }
  if (block_ != nullptr) {
    workspace_ = {spectral::workspace_at(block_), tables};
  }
}

HeapWorkspace::~HeapWorkspace() {
  if (block_ != nullptr && put_spare(block_)) {
    runtime::set_aside();
    return;
  }
  runtime::release_large(block_);
}

Estimate EstimateStream::finish() const noexcept {
  if (refused_) {
    return estimate_;
  }
  Estimate e = estimate_;
  // The recording ends with the samples fed: the aligned positions past its
  // end were never fed to the meter, and count as 0.0 there.
  std::int64_t start = 0;
  aligned_extent(n_ref_, std::max<std::int64_t>(fed_, kSpan), causes_, start, e.diagnostics);
  conclude(meter_.finish(), causes_, e);
  return e;
}

}  // namespace lumetra
