#include "audiomeasure/gain.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>

namespace am {
namespace {

using lumetra::kSpan;
using lumetra::kSteps;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

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

// The recording samples the measurement reads: its opening and, when
// aligned, the stretch from the delay on that fills the aligned recording.
std::int64_t recording_read(const lumetra::Diagnostics& d) noexcept {
  std::int64_t read = kSpan;
  if (d.copy != lumetra::Copy::kFailed) {
    read = std::max(read, static_cast<std::int64_t>(d.total_delay) + d.aligned_samples);
  }
  return read;
}

// Every field of the report from the estimate and what was gathered.
void write_report(const ReferenceSummary& s, const lumetra::Estimate& e,
                  std::int64_t recording_length, const NonFinite& recording_non_finite,
                  am_gain_report& r) noexcept {
  const lumetra::Diagnostics& d = e.diagnostics;
  const std::uint32_t size = r.struct_size;
  r = am_gain_report{};
  r.struct_size = size;
  r.failed = e.failed;
  r.peak_level = e.peak_level;
  r.causes = api_causes(d.causes);
  for (int k = 0; k < kSteps; ++k) {
    r.step_level[k] = e.step_level[k];
    r.step_range[k] = e.step_range[k];
    r.reference_step_level[k] = s.own.step_level[k];
    r.reference_step_range[k] = s.own.step_range[k];
    r.gain[k] = e.step_level[k] - s.own.step_level[k];
    r.step_start[k] = s.layout.step[k].first;
    r.step_samples[k] = s.layout.step[k].count;
    // Aligned positions below aligned_samples come from the recording.
    const lumetra::Stretch& settled = s.layout.settled[k];
    const std::int64_t held =
        std::clamp<std::int64_t>(d.aligned_samples - settled.first, 0, settled.count);
    r.coverage[k] =
        settled.count == 0 ? kNaN : static_cast<double>(held) / static_cast<double>(settled.count);
    if (d.copy != lumetra::Copy::kFailed && held < settled.count) {
      r.uncovered_steps |= 1u << k;
    }
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
  r.reference_length = s.length;
  r.recording_length = recording_length;

  r.non_finite_signal = AM_SIGNAL_NONE;
  r.non_finite_position = -1;
  r.non_finite_value = kNaN;
  if (s.non_finite) {
    r.non_finite_signal = AM_SIGNAL_REFERENCE;
    r.non_finite_position = s.non_finite.position;
    r.non_finite_value = s.non_finite.value;
  } else if (recording_non_finite && recording_non_finite.position < recording_read(d)) {
    r.non_finite_signal = AM_SIGNAL_RECORDING;
    r.non_finite_position = recording_non_finite.position;
    r.non_finite_value = recording_non_finite.value;
  }

  // The verdict: the first that holds.
  if (r.non_finite_signal != AM_SIGNAL_NONE) {
    r.verdict_causes |= 1u << AM_CAUSE_NON_FINITE_SAMPLES;
  }
  r.verdict_causes |= r.causes;
  if (r.uncovered_steps != 0) {
    r.verdict_causes |= 1u << AM_CAUSE_STEPS_NOT_COVERED;
  }
  if (r.non_finite_signal != AM_SIGNAL_NONE) {
    r.verdict = AM_VERDICT_NON_FINITE_SAMPLES;
  } else if (e.failed != 0.0) {
    r.verdict = AM_VERDICT_NOT_TRUSTED;
  } else if (r.uncovered_steps != 0) {
    r.verdict = AM_VERDICT_INCOMPLETE;
  } else {
    r.verdict = AM_VERDICT_TRUSTED;
  }
}

}  // namespace

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
  return AM_OK;
}

int measure_gain(const double* reference, std::int64_t reference_length, const double* recording,
                 std::int64_t recording_length, const am_gain_options& options,
                 am_gain_report& report) noexcept {
  const lumetra::HeapWorkspace workspace;
  if (!workspace) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  ReferenceSummary s;
  s.opening = reference;
  s.length = reference_length;
  s.check = check_step_period({reference, static_cast<std::size_t>(reference_length)});
  s.choice = choose_period(options.step_period, s.check);
  s.layout = lumetra::step_layout(s.choice.seconds, reference_length);
  s.own = lumetra::measure({reference, reference_length, reference_length}, s.layout);
  s.non_finite = first_non_finite(reference, reference_length);

  const View ref(reference, reference_length);
  const View rec(recording, recording_length);
  const lumetra::Estimate e =
      lumetra::estimate(&ref.record, &rec.record, s.choice.step_mode, workspace.get());
  // The recording's first non-finite sample among those read.
  const NonFinite bad =
      first_non_finite(recording, std::min(recording_length, recording_read(e.diagnostics)));
  write_report(s, e, recording_length, bad, report);
  return AM_OK;
}

int GainReference::init(const am_gain_options& options, std::int64_t length) noexcept {
  option_ = options.step_period;
  if (!opening_.allocate(kSpan + 1)) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  summary_.length = length;
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
  if (fed_ < kSpan + 1) {
    const std::int64_t keep = std::min(n, kSpan + 1 - fed_);
    std::memcpy(opening_.data() + fed_, x, static_cast<std::size_t>(keep) * sizeof(double));
  }
  note_non_finite(summary_.non_finite, x, n, fed_);
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
  summary_.check = period_->finish();
  summary_.choice = choose_period(option_, summary_.check);
  summary_.layout = lumetra::step_layout(summary_.choice.seconds, summary_.length);
  summary_.own = own_[period_index(summary_.choice)]->finish();
  finished_ = true;
  return AM_OK;
}

bool GainMeasurement::init() noexcept {
  workspace_.emplace();
  return static_cast<bool>(*workspace_) && opening_.allocate(kSpan);
}

int GainMeasurement::feed(const double* x, std::int64_t n) noexcept {
  if (finished_) {
    return AM_ERR_STATE;
  }
  if (n < 0 || n > AM_MAX_SAMPLES - fed_) {
    return AM_ERR_LENGTH;
  }
  if (n > 0 && x == nullptr) {
    return AM_ERR_NULL;
  }
  note_non_finite(non_finite_, x, n, fed_);
  if (!stream_) {
    const std::int64_t keep = std::min(n, kSpan - fed_);
    std::memcpy(opening_.data() + fed_, x, static_cast<std::size_t>(keep) * sizeof(double));
    fed_ += keep;
    x += keep;
    n -= keep;
    if (fed_ < kSpan) {
      return AM_OK;
    }
    // The opening is whole: align it, then hand it to the steps from the
    // aligned start on. The working memory of the alignment and the
    // opening are not needed after that.
    const ReferenceSummary& s = reference_->summary();
    stream_.emplace(std::span<const double>(s.opening, kSpan + 1),
                    std::span<const double>(opening_.data(), kSpan), s.length, s.choice.step_mode,
                    workspace_->get());
    workspace_.reset();
    stream_->feed_recording({opening_.data(), static_cast<std::size_t>(kSpan)});
    opening_ = runtime::Buffer<double>();
  }
  if (n > 0) {
    stream_->feed_recording({x, static_cast<std::size_t>(n)});
    fed_ += n;
  }
  return AM_OK;
}

int GainMeasurement::finish(am_gain_report& report) noexcept {
  if (!finished_) {
    if (!stream_) {
      return AM_ERR_SHORT_RECORDING;
    }
    report_.struct_size = sizeof report_;
    write_report(reference_->summary(), stream_->finish(), fed_, non_finite_, report_);
    stream_.reset();
    finished_ = true;
  }
  const std::uint32_t size = report.struct_size;
  report = report_;
  report.struct_size = size;
  return AM_OK;
}

}  // namespace am
