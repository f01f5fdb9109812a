#include "audiomeasure/snr.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>

#include "quenbar/snr.h"

namespace am {
namespace {

constexpr int kGate = 0;
constexpr int kMeasured = 1;

// The first sample of each signal measured: with `align`, the one that is
// late loses its first |lag| samples.
void first_samples(bool align, const Lag& lag, std::int64_t (&first)[2]) noexcept {
  first[kGate] = align ? std::max<std::int64_t>(0, -lag.samples) : 0;
  first[kMeasured] = align ? std::max<std::int64_t>(0, lag.samples) : 0;
}

// The refusal for signals of these lengths, or AM_OK with the gate samples
// handed to the estimate: the whole gate, or, aligned, the pairs the
// shifted signals share.
int check_lengths(double fs, const std::int64_t (&length)[2], bool align, const Lag& lag,
                  const std::int64_t (&first)[2], std::int64_t& gate_samples) noexcept {
  const double L = quenbar::frame_length(fs);
  const double F = quenbar::frame_count(static_cast<double>(length[kGate]), L);
  if (F < 1.0) {
    return AM_ERR_SHORT_GATE;
  }
  if (align && !lag.reliable) {
    return AM_ERR_UNRELIABLE_LAG;
  }
  if (!align) {
    if (length[kMeasured] < quenbar::frames_span(F, L)) {
      return AM_ERR_SHORT_MEASURED;
    }
    gate_samples = length[kGate];
    return AM_OK;
  }
  gate_samples = std::max<std::int64_t>(
      0, std::min(length[kGate] - first[kGate], length[kMeasured] - first[kMeasured]));
  if (quenbar::frame_count(static_cast<double>(gate_samples), L) < 1.0) {
    return AM_ERR_NO_SHARED_FRAME;
  }
  return AM_OK;
}

// What a report is made of.
struct Outcome {
  double fs = 0.0;
  bool align = false;
  Lag lag;
  std::int64_t first[2] = {0, 0};
  std::int64_t length[2] = {0, 0};
  std::int64_t gate_samples = 0;
  NonFinite bad[2];  // the first non-finite of each signal from its first sample measured
  quenbar::Estimate estimate{};
};

void write_report(const Outcome& o, am_snr_report& r) noexcept {
  const quenbar::Diagnostics& d = o.estimate.diagnostics;
  const std::uint32_t size = r.struct_size;
  r = am_snr_report{};
  r.struct_size = size;
  r.reason = static_cast<std::int32_t>(d.reason);
  r.aligned = o.align ? 1 : 0;
  r.snr_db = o.estimate.snr_db;
  r.fs = o.fs;
  r.frame_length = d.frame_length;
  r.frame_count = d.frame_count;
  r.active_frames = d.active_frames;
  r.activity_factor = d.activity_factor;
  r.active_power_sum = d.active_power_sum;
  r.inactive_power_sum = d.inactive_power_sum;
  r.noise_power = d.noise_power;
  r.signal_power = d.signal_power;
  r.noise_power_db = d.noise_power_db;
  r.signal_power_db = d.signal_power_db;
  r.lag = o.lag.samples;
  r.lag_window = o.lag.window;
  r.lag_max = o.lag.max_lag;
  r.lag_prominence = o.lag.prominence;
  r.lag_reliable = o.lag.reliable ? 1 : 0;
  r.gate_first = o.first[kGate];
  r.measured_first = o.first[kMeasured];
  r.gate_samples = o.gate_samples;
  r.gate_length = o.length[kGate];
  r.measured_length = o.length[kMeasured];
  // Only the samples the frames cover count: the gate's first, then the
  // measured signal's.
  const std::int64_t used = quenbar::frames_span(d.frame_count, d.frame_length);
  r.non_finite_signal = AM_SIGNAL_NONE;
  r.non_finite_position = -1;
  r.non_finite_value = std::numeric_limits<double>::quiet_NaN();
  for (int s : {kGate, kMeasured}) {
    if (o.bad[s] && o.bad[s].position < o.first[s] + used) {
      r.non_finite_signal = s == kGate ? AM_SIGNAL_GATE : AM_SIGNAL_MEASURED;
      r.non_finite_position = o.bad[s].position;
      r.non_finite_value = o.bad[s].value;
      break;
    }
  }
  if (r.non_finite_signal != AM_SIGNAL_NONE) {
    r.verdict = AM_VERDICT_NON_FINITE_SAMPLES;
  } else {
    r.verdict = d.reason == quenbar::Reason::kFinite ? AM_VERDICT_FINITE : AM_VERDICT_NOT_FINITE;
  }
}

// A one-dimensional record over n samples at x, for the whole-array core.
struct View {
  std::int32_t size[1];
  emxArray_real_T record;
  View(const double* x, std::int64_t n) noexcept
      : size{static_cast<std::int32_t>(n)},
        record{const_cast<double*>(x), size, static_cast<std::int32_t>(n), 1, 0} {}
};

}  // namespace

int read_snr_options(const am_snr_options* options, am_snr_options& out) noexcept {
  am_snr_options_init(&out);
  if (options == nullptr) {
    return AM_OK;
  }
  constexpr std::uint32_t kFirstSize = offsetof(am_snr_options, align) + sizeof(std::int32_t);
  if (options->struct_size < kFirstSize) {
    return AM_ERR_STRUCT_SIZE;
  }
  std::memcpy(&out, options, std::min<std::size_t>(options->struct_size, sizeof out));
  out.struct_size = sizeof out;
  if (out.align != 0 && out.align != 1) {
    return AM_ERR_OPTION;
  }
  return AM_OK;
}

int measure_snr(const double* gate, std::int64_t gate_length, const double* measured,
                std::int64_t measured_length, double fs, const am_snr_options& options,
                am_snr_report& report) noexcept {
  Outcome o;
  o.fs = fs;
  o.align = options.align != 0;
  o.length[kGate] = gate_length;
  o.length[kMeasured] = measured_length;
  const std::int64_t opening = lag_opening(fs);
  if (!estimate_lag({gate, static_cast<std::size_t>(std::min(gate_length, opening))},
                    {measured, static_cast<std::size_t>(std::min(measured_length, opening))}, fs,
                    o.lag)) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  first_samples(o.align, o.lag, o.first);
  if (const int refusal = check_lengths(fs, o.length, o.align, o.lag, o.first, o.gate_samples);
      refusal != AM_OK) {
    return refusal;
  }
  const View g(gate + o.first[kGate], o.gate_samples);
  const View m(measured + o.first[kMeasured], measured_length - o.first[kMeasured]);
  o.estimate = quenbar::estimate_with_diagnostics(&g.record, &m.record, fs);
  const std::int64_t used =
      quenbar::frames_span(o.estimate.diagnostics.frame_count, o.estimate.diagnostics.frame_length);
  o.bad[kGate] = first_non_finite(g.record.data, used, o.first[kGate]);
  if (!o.bad[kGate]) {
    o.bad[kMeasured] = first_non_finite(m.record.data, used, o.first[kMeasured]);
  }
  write_report(o, report);
  return AM_OK;
}

bool Pending::push(const double* x, std::int64_t n) noexcept {
  const auto count = static_cast<std::size_t>(n);
  if (count == 0) {
    return true;  // an empty chunk: x may be null, and nothing waits longer
  }
  if (tail_ + count > data_.size()) {
    // Move what waits to the front, and grow when that is not room enough.
    const std::size_t held = tail_ - head_;
    if (held + count > data_.size()) {
      runtime::Buffer<double> grown;
      if (!grown.allocate(std::max(2 * data_.size(), held + count))) {
        return false;
      }
      if (held != 0) {
        std::memcpy(grown.data(), data_.data() + head_, held * sizeof(double));
      }
      data_ = std::move(grown);
    } else {
      std::memmove(data_.data(), data_.data() + head_, held * sizeof(double));
    }
    head_ = 0;
    tail_ = held;
  }
  std::memcpy(data_.data() + tail_, x, count * sizeof(double));
  tail_ += count;
  return true;
}

void Pending::pop(std::int64_t n) noexcept {
  head_ += static_cast<std::size_t>(n);
  if (head_ == tail_) {
    head_ = tail_ = 0;
  }
}

bool SnrMeasurement::init(const am_snr_options& options, double fs) noexcept {
  options_ = options;
  fs_ = fs;
  stream_ = quenbar::Stream(fs);
  opening_ = lag_opening(fs);
  for (runtime::Buffer<double>& b : openings_) {
    if (!b.allocate(static_cast<std::size_t>(opening_))) {
      return false;
    }
  }
  // Unaligned pairs are the samples as they come: the lag is only reported.
  lag_known_ = options_.align == 0;
  return true;
}

void SnrMeasurement::pair(const double* x, std::int64_t n, int signal) noexcept {
  const int other = 1 - signal;
  // Dropped first: the samples before the signal's first one measured.
  const std::int64_t drop = std::min(n, skip_[signal]);
  skip_[signal] -= drop;
  x += drop;
  n -= drop;
  // Pairs with what the other signal holds, straight from x.
  const std::int64_t k = std::min(n, pending_[other].size());
  if (k > 0) {
    const double* g = signal == kGate ? x : pending_[other].front();
    const double* m = signal == kGate ? pending_[other].front() : x;
    note_non_finite(bad_[kGate], g, k, first_[kGate] + paired_);
    note_non_finite(bad_[kMeasured], m, k, first_[kMeasured] + paired_);
    stream_.feed({g, static_cast<std::size_t>(k)}, {m, static_cast<std::size_t>(k)});
    paired_ += k;
    pending_[other].pop(k);
  }
  if (n > k && !pending_[signal].push(x + k, n - k)) {
    failed_ = true;
  }
}

int SnrMeasurement::feed(int signal, const double* x, std::int64_t n) noexcept {
  if (failed_) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  if (finished_) {
    return AM_ERR_STATE;
  }
  if (n < 0 || n > AM_MAX_SAMPLES - fed_[signal]) {
    return AM_ERR_LENGTH;
  }
  if (n > 0 && x == nullptr) {
    return AM_ERR_NULL;
  }
  // The opening, kept for the lag.
  if (fed_[signal] < opening_ && n > 0) {  // (an empty chunk's x may be null)
    const std::int64_t keep = std::min(n, opening_ - fed_[signal]);
    std::memcpy(openings_[signal].data() + fed_[signal], x,
                static_cast<std::size_t>(keep) * sizeof(double));
  }
  fed_[signal] += n;
  if (lag_known_) {
    pair(x, n, signal);
  } else if (!pending_[signal].push(x, n)) {
    failed_ = true;
  } else if (fed_[kGate] >= opening_ && fed_[kMeasured] >= opening_) {
    // Both openings are whole: the lag of the whole signals is known.
    static_cast<void>(commit_lag());
  }
  return failed_ ? AM_ERR_OUT_OF_MEMORY : AM_OK;
}

int SnrMeasurement::commit_lag() noexcept {
  const auto held = [&](int s) { return static_cast<std::size_t>(std::min(fed_[s], opening_)); };
  if (!estimate_lag({openings_[kGate].data(), held(kGate)},
                    {openings_[kMeasured].data(), held(kMeasured)}, fs_, lag_)) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  first_samples(options_.align != 0, lag_, first_);
  lag_known_ = true;
  // What waited from sample 0 on goes to the pairs now, each signal from its
  // first sample measured.
  for (int s : {kGate, kMeasured}) {
    const std::int64_t drop = std::min(first_[s], pending_[s].size());
    pending_[s].pop(drop);
    skip_[s] = first_[s] - drop;
  }
  const std::int64_t k = std::min(pending_[kGate].size(), pending_[kMeasured].size());
  if (k > 0) {
    const double* g = pending_[kGate].front();
    const double* m = pending_[kMeasured].front();
    note_non_finite(bad_[kGate], g, k, first_[kGate]);
    note_non_finite(bad_[kMeasured], m, k, first_[kMeasured]);
    stream_.feed({g, static_cast<std::size_t>(k)}, {m, static_cast<std::size_t>(k)});
    paired_ = k;
    pending_[kGate].pop(k);
    pending_[kMeasured].pop(k);
  }
  return AM_OK;
}

int SnrMeasurement::finish(am_snr_report& report) noexcept {
  if (failed_) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  if (finished_) {
    const std::uint32_t size = report.struct_size;
    report = report_;
    report.struct_size = size;
    return AM_OK;
  }
  Outcome o;
  o.fs = fs_;
  o.align = options_.align != 0;
  o.length[kGate] = fed_[kGate];
  o.length[kMeasured] = fed_[kMeasured];
  // The refusals first, from a lag that is not kept: a refused measurement
  // goes on taking samples, and its openings may grow.
  Lag lag = lag_;
  if (!lag_known_ || options_.align == 0) {
    const auto held = [&](int s) { return static_cast<std::size_t>(std::min(fed_[s], opening_)); };
    if (!estimate_lag({openings_[kGate].data(), held(kGate)},
                      {openings_[kMeasured].data(), held(kMeasured)}, fs_, lag)) {
      return AM_ERR_OUT_OF_MEMORY;
    }
  }
  first_samples(o.align, lag, o.first);
  if (const int refusal = check_lengths(fs_, o.length, o.align, lag, o.first, o.gate_samples);
      refusal != AM_OK) {
    return refusal;
  }
  if (!lag_known_ && commit_lag() != AM_OK) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  o.lag = lag;
  o.estimate = stream_.finish();
  o.bad[kGate] = bad_[kGate];
  o.bad[kMeasured] = bad_[kMeasured];
  report_.struct_size = sizeof report_;
  write_report(o, report_);
  finished_ = true;
  const std::uint32_t size = report.struct_size;
  report = report_;
  report.struct_size = size;
  return AM_OK;
}

}  // namespace am
