#include "audiomeasure/gain.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <span>

#include "audiomeasure/resample.h"
#include "runtime/huge_pages.h"

namespace am {
namespace {

using lumetra::kSpan;
using lumetra::kSteps;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A drift this small slides the recording by less than 0.3 ms over the
// longest stimulus: converting it would change nothing but the bits.
constexpr double kSmallestCorrectedPpm = 1.0;
// The analysis pairs the recording with the reference by the correlation's
// delay even when the alignment was not trusted (for the drift that may be
// why), as long as that delay is of the size a real delay can have.
constexpr double kLargestAnalysedDelay = 2.0 * lumetra::kMaxDelay;

// lumetra's failure cause bit k is the API's cause k + 1.
std::uint32_t api_causes(std::uint32_t lumetra_causes) noexcept {
  static_assert(lumetra::kCauseTexts[0].bit == 1u && AM_CAUSE_UNREADABLE_INPUT == 1);
  return lumetra_causes << 1;
}

// A one-dimensional record over n samples at x, for the whole-array core.
struct View {
  std::int32_t size[1];
  emxArray_real_T record;
  View(const double* x, std::int64_t n) noexcept
      : size{static_cast<std::int32_t>(n)},
        record{const_cast<double*>(x), size, static_cast<std::int32_t>(n), 1, 0} {}
};

int period_index(const PeriodChoice& c) noexcept {
  return c.period == AM_PERIOD_25_2 ? 0 : 1;
}

bool all_zero(const double* x, std::int64_t n) noexcept {
  return std::all_of(x, x + n, [](double v) { return v == 0.0; });
}

// The recording samples the measurement reads: its opening and, when
// aligned, the stretch from the delay on that fills the aligned recording.
std::int64_t recording_read(const lumetra::Diagnostics& d) noexcept {
  std::int64_t read = kSpan;
  if (d.copy != lumetra::Copy::kFailed) {
    read = std::max(read, static_cast<std::int64_t>(d.total_delay) + d.aligned_samples);
  }
  return read;
}

// Where the step analysis pairs the recording with the reference: the
// delay, when it has a delay's size; false when it has not (nothing to
// analyse).
bool analysis_offset(const lumetra::Diagnostics& d, std::int64_t& offset) noexcept {
  if (!(std::fabs(d.total_delay) <= kLargestAnalysedDelay)) {
    return false;
  }
  offset = static_cast<std::int64_t>(d.total_delay);
  return true;
}

// The recording's drift in ppm from the steps' evidence, or NaN when the
// steps do not show the reference (their noise and distortion above 0 dB
// in all: another signal, or silence).
double drift_ppm(const StepQuality (&q)[kSteps]) noexcept {
  double change = 0.0;
  double weight = 0.0;
  double explained = 0.0;
  double residual = 0.0;
  for (const StepQuality& s : q) {
    change += s.delay_change;
    weight += s.weight;
    explained += s.explained;
    residual += s.residual;
  }
  if (!(weight > 0.0) || !(explained > residual)) {
    return kNaN;
  }
  // The delay shrinks as a recording that runs fast slides ahead.
  return -(change / weight) / kFitSamples * 1e6;
}

}  // namespace

void write_report(const ReferenceSummary& s, const am_gain_options& options,
                  const lumetra::Estimate& e, const Findings& f, am_gain_report& r) noexcept {
  const lumetra::Diagnostics& d = e.diagnostics;
  const std::uint32_t size = r.struct_size;
  r = am_gain_report{};
  r.struct_size = size;
  write_reference_fields(s, r);
  r.failed = e.failed;
  r.peak_level = e.peak_level;
  r.causes = api_causes(d.causes);
  const bool aligned = d.copy != lumetra::Copy::kFailed;
  for (int k = 0; k < kSteps; ++k) {
    r.step_level[k] = e.step_level[k];
    r.step_range[k] = e.step_range[k];
    r.gain[k] = e.step_level[k] - s.own.step_level[k];
    // Aligned positions below aligned_samples come from the recording.
    const lumetra::Stretch& settled = s.layout.settled[k];
    const std::int64_t held =
        std::clamp<std::int64_t>(d.aligned_samples - settled.first, 0, settled.count);
    r.coverage[k] =
        settled.count == 0 ? kNaN : static_cast<double>(held) / static_cast<double>(settled.count);
    if (aligned && held < settled.count) {
      r.uncovered_steps |= 1u << k;
    }

    // The step's quality, where the recording was aligned and the step has
    // a settled half.
    r.noise_distortion_db[k] = r.dc_offset_db[k] = r.spread_excess_db[k] = kNaN;
    if (!aligned || settled.count == 0 || !f.analysed) {
      continue;
    }
    const StepQuality& q = f.quality[k];
    r.noise_distortion_db[k] = q.noise_distortion_db;
    r.dc_offset_db[k] = q.dc_offset_db;
    r.clipped_samples[k] = q.clipped;
    r.spread_excess_db[k] = e.step_range[k] - s.own.step_range[k];
    if (held < settled.count) {
      continue;  // partly silence padding: steps_not_covered says so
    }
    std::uint32_t why = 0;
    if (q.noise_distortion_db > options.max_noise_distortion_db) {
      why |= 1u << AM_CAUSE_NOISE_DISTORTION;
    }
    if (q.clipped > options.max_clipped_samples) {
      why |= 1u << AM_CAUSE_CLIPPING;
    }
    if (r.spread_excess_db[k] > options.max_spread_excess_db) {
      why |= 1u << AM_CAUSE_UNSTEADY;
    }
    r.step_questionable[k] = why;
    if (why != 0) {
      r.questionable_steps |= 1u << k;
    }
  }
  r.drift_ppm = f.analysed ? drift_ppm(f.quality) : kNaN;

  r.onset_frame_reference = d.onsets.reference;
  r.onset_frame_recording = d.onsets.recording;
  r.coarse_delay = d.coarse_delay;
  r.coarse_delay_flag = d.coarse_too_large;
  r.peak_index = d.peak.index;
  r.peak_value = d.peak.value;
  r.trust_ratio = d.trust_ratio;
  r.total_delay = d.total_delay;
  r.total_delay_ms = d.total_delay_ms();
  r.delay = static_cast<std::int64_t>(d.total_delay);
  r.aligned = d.copy == lumetra::Copy::kWhole  ? AM_ALIGNED_WHOLE
              : d.copy == lumetra::Copy::kHead ? AM_ALIGNED_HEAD
                                               : AM_ALIGNED_NONE;
  r.aligned_samples = d.aligned_samples;
  r.recording_length = f.recording_length;

  if (!s.non_finite && f.recording_non_finite &&
      f.recording_non_finite.position < recording_read(d)) {
    r.non_finite_signal = AM_SIGNAL_RECORDING;
    r.non_finite_position = f.recording_non_finite.position;
    r.non_finite_value = f.recording_non_finite.value;
  }

  // The verdict's causes, in their order, and the verdict: the first that
  // holds.
  std::uint32_t& c = r.verdict_causes;
  if (r.non_finite_signal != AM_SIGNAL_NONE) {
    c |= 1u << AM_CAUSE_NON_FINITE_SAMPLES;
  }
  c |= r.causes;
  if (r.uncovered_steps != 0) {
    c |= 1u << AM_CAUSE_STEPS_NOT_COVERED;
  }
  if (e.failed != 0.0 && !aligned) {
    if (s.silent_opening) {
      c |= 1u << AM_CAUSE_SILENT_REFERENCE;
    }
    if (f.silent_recording) {
      c |= 1u << AM_CAUSE_SILENT_RECORDING;
    }
    if (std::fabs(r.drift_ppm) >= AM_DRIFT_EXPLAINS_PPM) {
      c |= 1u << AM_CAUSE_CLOCK_DRIFT;
    }
  }
  for (std::uint32_t why : r.step_questionable) {
    c |= why;
  }
  if (r.non_finite_signal != AM_SIGNAL_NONE) {
    r.verdict = AM_VERDICT_NON_FINITE_SAMPLES;
  } else if (e.failed != 0.0) {
    r.verdict = AM_VERDICT_NOT_TRUSTED;
  } else if (r.uncovered_steps != 0) {
    r.verdict = AM_VERDICT_INCOMPLETE;
  } else if (r.questionable_steps != 0) {
    r.verdict = AM_VERDICT_QUESTIONABLE;
  } else {
    r.verdict = AM_VERDICT_TRUSTED;
  }
}

namespace {

// Whether a report asks for the recording to be converted by its drift.
bool drift_to_correct(const am_gain_report& r) noexcept {
  return std::fabs(r.drift_ppm) >= kSmallestCorrectedPpm;
}

// The report of the converted recording, told what it is.
void mark_corrected(am_gain_report& converted, double drift) noexcept {
  converted.drift_ppm = drift;
  converted.drift_corrected = 1;
}

// The whole-array measurement, without the drift's correction.
int measure_whole(const double* reference, std::int64_t reference_length, const double* recording,
                  std::int64_t recording_length, const am_gain_options& options,
                  am_gain_report& report) noexcept {
  const lumetra::HeapWorkspace workspace;
  StepAnalysis analysis;
  if (!workspace || !analysis.init()) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  ReferenceSummary s;
  s.opening = reference;
  s.samples = reference;
  s.length = reference_length;
  s.check = check_step_period({reference, static_cast<std::size_t>(reference_length)});
  s.choice = choose_period(options.step_period, s.check);
  s.layout = lumetra::step_layout(s.choice.seconds, reference_length);
  s.own = lumetra::measure({reference, reference_length, reference_length}, s.layout);
  s.non_finite = first_non_finite(reference, reference_length);
  s.silent_opening = all_zero(reference, kSpan + 1);

  const View ref(reference, reference_length);
  const View rec(recording, recording_length);
  const lumetra::Estimate e =
      lumetra::estimate(&ref.record, &rec.record, s.choice.step_mode, workspace.get());
  Findings f;
  f.recording_length = recording_length;
  // The recording's first non-finite sample among those read.
  f.recording_non_finite =
      first_non_finite(recording, std::min(recording_length, recording_read(e.diagnostics)));
  f.silent_recording = all_zero(recording, kSpan);
  std::int64_t offset = 0;
  if (analysis_offset(e.diagnostics, offset)) {
    analysis.start(s, offset);
    analysis.feed(recording, recording_length, 0);
    analysis.finish(f.quality);
    f.analysed = true;
  }
  write_report(s, options, e, f, report);
  return AM_OK;
}

}  // namespace

void write_reference_fields(const ReferenceSummary& s, am_gain_report& r) noexcept {
  for (int k = 0; k < kSteps; ++k) {
    r.reference_step_level[k] = s.own.step_level[k];
    r.reference_step_range[k] = s.own.step_range[k];
    r.step_start[k] = s.layout.step[k].first;
    r.step_samples[k] = s.layout.step[k].count;
  }
  r.step_period = s.choice.period;
  r.step_period_s = s.choice.seconds;
  r.step_mode = s.choice.step_mode;
  r.step_period_source = s.choice.source;
  r.step_period_warning = s.choice.warning;
  r.fitting_period_s = s.check.fitting;
  for (int i = 0; i < 2; ++i) {
    r.layout_held[i] = s.check.layouts[i].held ? 1 : 0;
    r.median_step_spread_db[i] = s.check.layouts[i].median_spread_db;
  }
  r.reference_length = s.length;
  r.non_finite_signal = AM_SIGNAL_NONE;
  r.non_finite_position = -1;
  r.non_finite_value = kNaN;
  if (s.non_finite) {
    r.non_finite_signal = AM_SIGNAL_REFERENCE;
    r.non_finite_position = s.non_finite.position;
    r.non_finite_value = s.non_finite.value;
    r.verdict = AM_VERDICT_NON_FINITE_SAMPLES;
    r.verdict_causes = 1u << AM_CAUSE_NON_FINITE_SAMPLES;
  }
}

bool SettledStore::init(std::int64_t length) noexcept {
  // The settled halves of both periods the reference holds, merged where
  // they overlap.
  Interval all[2 * kSteps];
  int n = 0;
  for (double period : kPeriods) {
    if (length < lumetra::required_reference_length(period)) {
      continue;
    }
    const lumetra::StepLayout layout = lumetra::step_layout(period, length);
    for (const lumetra::Stretch& s : layout.settled) {
      if (s.count > 0) {
        all[n++] = {s.first, s.count, 0};
      }
    }
  }
  std::sort(all, all + n, [](const Interval& a, const Interval& b) { return a.first < b.first; });
  intervals_count_ = 0;
  total_ = 0;
  for (int i = 0; i < n; ++i) {
    Interval* last = intervals_count_ > 0 ? &intervals_[intervals_count_ - 1] : nullptr;
    if (last != nullptr && all[i].first <= last->first + last->count) {
      const std::int64_t end = std::max(last->first + last->count, all[i].first + all[i].count);
      total_ += end - (last->first + last->count);
      last->count = end - last->first;
    } else {
      intervals_[intervals_count_++] = {all[i].first, all[i].count, total_};
      total_ += all[i].count;
    }
  }
  as_floats_ = false;
  if (!integers_.allocate(static_cast<std::size_t>(total_))) {
    return false;
  }
  std::fill_n(integers_.data(), total_, std::int16_t{0});
  return true;
}

bool SettledStore::to_floats() noexcept {
  if (!floats_.allocate(static_cast<std::size_t>(total_))) {
    return false;
  }
  for (std::int64_t i = 0; i < total_; ++i) {
    floats_[static_cast<std::size_t>(i)] = integers_[static_cast<std::size_t>(i)];
  }
  integers_ = runtime::Buffer<std::int16_t>();
  as_floats_ = true;
  return true;
}

bool SettledStore::feed(const double* x, std::int64_t n, std::int64_t at) noexcept {
  for (int i = 0; i < intervals_count_; ++i) {
    const Interval& v = intervals_[i];
    const std::int64_t lo = std::max(at, v.first);
    const std::int64_t hi = std::min(at + n, v.first + v.count);
    for (std::int64_t p = lo; p < hi; ++p) {
      const double value = x[p - at];
      const auto k = static_cast<std::size_t>(v.offset + p - v.first);
      if (!as_floats_) {
        const bool integer = value >= -32768.0 && value <= 32767.0 &&
                             static_cast<double>(static_cast<std::int16_t>(value)) == value;
        if (integer) {
          integers_[k] = static_cast<std::int16_t>(value);
          continue;
        }
        if (!to_floats()) {
          return false;
        }
      }
      floats_[k] = static_cast<float>(value);
    }
  }
  return true;
}

bool SettledStore::keep_only(const lumetra::StepLayout& layout) noexcept {
  Interval kept[kSteps];
  int count = 0;
  std::int64_t total = 0;
  for (const lumetra::Stretch& s : layout.settled) {
    if (s.count > 0) {
      kept[count++] = {s.first, s.count, total};
      total += s.count;
    }
  }
  runtime::Buffer<std::int16_t> integers;
  runtime::Buffer<float> floats;
  if (!(as_floats_ ? floats.allocate(static_cast<std::size_t>(total))
                   : integers.allocate(static_cast<std::size_t>(total)))) {
    return false;
  }
  for (int i = 0; i < count; ++i) {
    const std::int64_t from = where(kept[i].first);
    for (std::int64_t j = 0; j < kept[i].count; ++j) {
      const auto to = static_cast<std::size_t>(kept[i].offset + j);
      const auto at = static_cast<std::size_t>(from + j);
      if (as_floats_) {
        floats[to] = floats_[at];
      } else {
        integers[to] = integers_[at];
      }
    }
  }
  std::copy_n(kept, count, intervals_);
  intervals_count_ = count;
  total_ = total;
  integers_ = std::move(integers);
  floats_ = std::move(floats);
  return true;
}

std::int64_t SettledStore::where(std::int64_t position) const noexcept {
  for (int i = 0; i < intervals_count_; ++i) {
    const Interval& v = intervals_[i];
    if (position >= v.first && position < v.first + v.count) {
      return v.offset + (position - v.first);
    }
  }
  return -1;
}

void SettledStore::feed(QualityMeter& meter, std::int64_t at, const double* r,
                        std::int64_t n) const noexcept {
  const auto k = static_cast<std::size_t>(where(at));
  if (as_floats_) {
    meter.feed(floats_.data() + k, r, n);
  } else {
    meter.feed(integers_.data() + k, r, n);
  }
}

bool StepAnalysis::init() noexcept {
  if (!meter_.allocate(1)) {
    return false;
  }
  new (meter_.data()) QualityMeter();
  meter_[0].init();
  return true;
}

void StepAnalysis::start(const ReferenceSummary& reference, std::int64_t offset) noexcept {
  reference_ = &reference;
  offset_ = offset;
  step_ = -1;
  for (StepQuality& q : quality_) {
    q = StepQuality{};
    q.noise_distortion_db = q.dc_offset_db = kNaN;
  }
}

void StepAnalysis::close_step() noexcept {
  if (step_ >= 0) {
    quality_[step_] = meter_[0].finish();
    step_ = -1;
  }
}

void StepAnalysis::feed(const double* x, std::int64_t n, std::int64_t at) noexcept {
  if (reference_ == nullptr) {
    return;
  }
  // The chunk holds aligned positions [at - offset, at + n - offset); the
  // settled halves come in order.
  const std::int64_t from = at - offset_;
  const std::int64_t to = from + n;
  for (int k = std::max(step_, 0); k < kSteps; ++k) {
    const lumetra::Stretch& s = reference_->layout.settled[k];
    if (s.first >= to) {
      break;
    }
    const std::int64_t lo = std::max(from, s.first);
    const std::int64_t hi = std::min(to, s.first + s.count);
    if (lo >= hi) {
      continue;
    }
    if (k != step_) {
      close_step();
      meter_[0].reset();
      step_ = k;
    }
    const double* recording = x + (lo - from);
    if (reference_->samples != nullptr) {
      meter_[0].feed(reference_->samples + lo, recording, hi - lo);
    } else {
      reference_->settled->feed(meter_[0], lo, recording, hi - lo);
    }
  }
}

void StepAnalysis::finish(StepQuality (&out)[kSteps]) noexcept {
  close_step();
  std::copy_n(quality_, kSteps, out);
}

int read_gain_options(const am_gain_options* options, am_gain_options& out) noexcept {
  am_gain_options_init(&out);
  if (options == nullptr) {
    return AM_OK;
  }
  constexpr std::uint32_t kFirstSize =
      offsetof(am_gain_options, step_period) + sizeof(std::int32_t);
  if (options->struct_size < kFirstSize) {
    return AM_ERR_STRUCT_SIZE;
  }
  std::memcpy(&out, options, std::min<std::size_t>(options->struct_size, sizeof out));
  out.struct_size = sizeof out;
  if (out.step_period != AM_PERIOD_AUTO && out.step_period != AM_PERIOD_25_2 &&
      out.step_period != AM_PERIOD_24_7) {
    return AM_ERR_OPTION;
  }
  if (std::isnan(out.max_noise_distortion_db) || std::isnan(out.max_spread_excess_db) ||
      out.max_clipped_samples < 0 || (out.drift_correct != 0 && out.drift_correct != 1)) {
    return AM_ERR_OPTION;
  }
  return AM_OK;
}

int measure_gain(const double* reference, std::int64_t reference_length, const double* recording,
                 std::int64_t recording_length, const am_gain_options& options,
                 am_gain_report& report) noexcept {
  const int status =
      measure_whole(reference, reference_length, recording, recording_length, options, report);
  if (status != AM_OK || options.drift_correct == 0 || !drift_to_correct(report)) {
    return status;
  }
  runtime::Buffer<double> converted;
  const double drift = report.drift_ppm;
  if (!convert_by_speed(recording, recording_length, 1.0 + drift * 1e-6, converted)) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  am_gain_report again = report;
  const int corrected = measure_whole(reference, reference_length, converted.data(),
                                      static_cast<std::int64_t>(converted.size()), options, again);
  if (corrected != AM_OK) {
    return corrected;
  }
  mark_corrected(again, drift);
  report = again;
  return AM_OK;
}

int GainReference::init(const am_gain_options& options, std::int64_t length) noexcept {
  options_ = options;
  if (!opening_.allocate(kSpan + 1) || !settled_.init(length)) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  summary_.length = length;
  summary_.settled = &settled_;
  period_.emplace(length);
  for (int i = 0; i < 2; ++i) {
    if (length >= lumetra::required_reference_length(kPeriods[i])) {
      own_[i].emplace(lumetra::step_layout(kPeriods[i], length), length);
    }
  }
  return AM_OK;
}

int GainReference::feed(const double* x, std::int64_t n) noexcept {
  if (finished_) {
    return AM_ERR_STATE;
  }
  if (n < 0 || n > summary_.length - fed_) {
    return AM_ERR_LENGTH;
  }
  if (n > 0 && x == nullptr) {
    return AM_ERR_NULL;
  }
  if (fed_ < kSpan + 1 && n > 0) {  // (an empty chunk's x may be null)
    const std::int64_t keep = std::min(n, kSpan + 1 - fed_);
    std::memcpy(opening_.data() + fed_, x, static_cast<std::size_t>(keep) * sizeof(double));
  }
  note_non_finite(summary_.non_finite, x, n, fed_);
  if (!settled_.feed(x, n, fed_)) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  const std::span<const double> chunk(x, static_cast<std::size_t>(n));
  period_->feed(chunk);
  for (std::optional<lumetra::StepMeter>& m : own_) {
    if (m) {
      m->feed(chunk);
    }
  }
  fed_ += n;
  return AM_OK;
}

int GainReference::finish() noexcept {
  if (finished_) {
    return AM_OK;
  }
  if (fed_ != summary_.length) {
    return AM_ERR_REFERENCE_LENGTH;
  }
  // Every measurement against the reference correlates with these tables:
  // built now, so that measurements started later (in other processes as
  // well) find them.
  if (spectral::shared_tables() == nullptr) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  summary_.opening = opening_.data();
  summary_.silent_opening = all_zero(opening_.data(), kSpan + 1);
  summary_.check = period_->finish();
  summary_.choice = choose_period(options_.step_period, summary_.check);
  summary_.layout = lumetra::step_layout(summary_.choice.seconds, summary_.length);
  summary_.own = own_[period_index(summary_.choice)]->finish();
  if (!settled_.keep_only(summary_.layout)) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  finished_ = true;
  return AM_OK;
}

bool GainMeasurement::init() noexcept {
  workspace_.emplace();
  return static_cast<bool>(*workspace_) && opening_.allocate(kSpan) && analysis_.init();
}

void GainMeasurement::align() noexcept {
  // The opening is whole: align it, then hand it to the steps from the
  // aligned start on. The working memory of the alignment and the opening
  // are not needed after that.
  const ReferenceSummary& s = reference_->summary();
  stream_.emplace(std::span<const double>(s.opening, kSpan + 1),
                  std::span<const double>(opening_.data(), kSpan), s.length, s.choice.step_mode,
                  workspace_->get());
  workspace_.reset();
  silent_opening_ = all_zero(opening_.data(), kSpan);
  stream_->feed_recording({opening_.data(), static_cast<std::size_t>(kSpan)});
  std::int64_t offset = 0;
  if (analysis_offset(stream_->alignment(), offset)) {
    analysis_.start(s, offset);
    analysis_.feed(opening_.data(), kSpan, 0);
  }
  opening_ = runtime::Buffer<double>();
}

int GainMeasurement::feed(const double* x, std::int64_t n) noexcept {
  if (failed_) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  if (finished_) {
    return AM_ERR_STATE;
  }
  if (n < 0 || n > AM_MAX_SAMPLES - fed_) {
    return AM_ERR_LENGTH;
  }
  if (n > 0 && x == nullptr) {
    return AM_ERR_NULL;
  }
  if (correct_drift_ && n > 0) {
    // Kept whole, growing by halves, for its conversion at the end.
    const auto need = static_cast<std::size_t>(fed_ + n);
    if (need > kept_.size() && !kept_.resize(std::max(need, kept_.size() + kept_.size() / 2))) {
      failed_ = true;
      return AM_ERR_OUT_OF_MEMORY;
    }
    std::memcpy(kept_.data() + fed_, x, static_cast<std::size_t>(n) * sizeof(double));
  }
  note_non_finite(non_finite_, x, n, fed_);
  if (!stream_) {
    const std::int64_t keep = std::min(n, kSpan - fed_);
    if (keep > 0) {  // (an empty chunk's x may be null)
      std::memcpy(opening_.data() + fed_, x, static_cast<std::size_t>(keep) * sizeof(double));
    }
    fed_ += keep;
    x += keep;
    n -= keep;
    if (fed_ < kSpan) {
      return AM_OK;
    }
    align();
  }
  if (n > 0) {
    stream_->feed_recording({x, static_cast<std::size_t>(n)});
    analysis_.feed(x, n, fed_);
    fed_ += n;
  }
  return AM_OK;
}

int GainMeasurement::finish(am_gain_report& report) noexcept {
  if (failed_) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  if (!finished_) {
    if (!stream_) {
      return AM_ERR_SHORT_RECORDING;
    }
    Findings f;
    f.recording_length = fed_;
    f.recording_non_finite = non_finite_;
    f.silent_recording = silent_opening_;
    f.analysed = analysis_.started();
    analysis_.finish(f.quality);
    report_.struct_size = sizeof report_;
    write_report(reference_->summary(), reference_->options(), stream_->finish(), f, report_);
    if (correct_drift_ && drift_to_correct(report_)) {
      // The recording once more, converted by its drift, as a measurement
      // of its own that corrects nothing.
      runtime::Buffer<double> converted;
      GainMeasurement again(*reference_, false);
      const double drift = report_.drift_ppm;
      if (!convert_by_speed(kept_.data(), fed_, 1.0 + drift * 1e-6, converted) || !again.init()) {
        return AM_ERR_OUT_OF_MEMORY;
      }
      again.feed(converted.data(), static_cast<std::int64_t>(converted.size()));
      am_gain_report corrected{};
      corrected.struct_size = sizeof corrected;
      const int status = again.finish(corrected);
      if (status != AM_OK) {
        return status;
      }
      mark_corrected(corrected, drift);
      report_ = corrected;
    }
    stream_.reset();
    kept_ = runtime::Buffer<double>();
    finished_ = true;
  }
  const std::uint32_t size = report.struct_size;
  report = report_;
  report.struct_size = size;
  return AM_OK;
}

}  // namespace am
