// Gain measurements: lumetra's estimate with its diagnostics, the
// reference's own steps, the step period read from the reference, the
// coverage and the quality of every step, the clock drift, the first
// non-finite sample, and the verdict.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "audiomeasure.h"
#include "audiomeasure/non_finite.h"
#include "audiomeasure/quality.h"
#include "audiomeasure/step_period.h"
#include "lumetra/estimation.h"
#include "runtime/buffer.h"

namespace am {

// Checks an options struct (NULL: the defaults) and copies what it holds.
int read_gain_options(const am_gain_options* options, am_gain_options& out) noexcept;

// The reference's samples in the settled halves of its steps, kept for the
// quality analysis of every recording measured against it. While it is fed,
// the halves of both step periods are kept (the period is chosen at its
// end; the halves overlap, so their union is kept), then only those of the
// period chosen: about half the reference. Kept as 16-bit integers while
// every sample is one (a 16-bit stimulus), else as floats: the analysis
// reads the reference as float either way, so the figures are the same.
class SettledStore {
 public:
  // false when the memory cannot be had.
  bool init(std::int64_t length) noexcept;
  // The samples x[0 .. n), which are positions at .. at + n of the
  // reference; false when the memory for floats cannot be had.
  bool feed(const double* x, std::int64_t n, std::int64_t at) noexcept;
  // Keeps the settled halves of `layout` alone; false when the memory
  // cannot be had.
  bool keep_only(const lumetra::StepLayout& layout) noexcept;
  // The kept samples at positions [at, at + n) (inside one settled half)
  // and the recording's samples r[0 .. n), to the meter.
  void feed(QualityMeter& meter, std::int64_t at, const double* r, std::int64_t n) const noexcept;

 private:
  struct Interval {
    std::int64_t first;
    std::int64_t count;
    std::int64_t offset;  // of its first sample in the storage
  };
  std::int64_t where(std::int64_t position) const noexcept;  // -1 when not kept
  bool to_floats() noexcept;

  Interval intervals_[2 * lumetra::kSteps]{};
  int intervals_count_ = 0;
  std::int64_t total_ = 0;
  runtime::Buffer<std::int16_t> integers_;
  runtime::Buffer<float> floats_;
  bool as_floats_ = false;
};

// What a measurement needs of its reference, gathered from its samples.
struct ReferenceSummary {
  const double* opening = nullptr;  // its first kSpan + 1 samples
  std::int64_t length = 0;
  PeriodCheck check{};
  PeriodChoice choice{};
  lumetra::StepLayout layout{};  // the steps of the period chosen
  lumetra::Levels own{};         // the reference measured through them
  NonFinite non_finite;          // its first non-finite sample
  bool silent_opening = false;   // its first kSpan + 1 samples are all 0
  // Its samples for the quality analysis: the whole reference, or the
  // kept settled halves (one of the two).
  const double* samples = nullptr;
  const SettledStore* settled = nullptr;
};

// The report fields a reference alone decides (am_gain_reference_report),
// over a report as am_gain_report_init leaves it.
void write_reference_fields(const ReferenceSummary& s, am_gain_report& r) noexcept;

// What a measurement found besides lumetra's estimate.
struct Findings {
  std::int64_t recording_length = 0;
  NonFinite recording_non_finite;
  bool silent_recording = false;
  bool analysed = false;
  StepQuality quality[lumetra::kSteps];
};

// Every field of the report from the estimate and what was gathered, the
// verdict and its causes among them: the one place they are decided (both
// forms of the measurement, and the tests, call it).
void write_report(const ReferenceSummary& s, const am_gain_options& options,
                  const lumetra::Estimate& e, const Findings& f, am_gain_report& r) noexcept;

// am_gain_measure's work, its arguments checked but for the lengths.
int measure_gain(const double* reference, std::int64_t reference_length, const double* recording,
                 std::int64_t recording_length, const am_gain_options& options,
                 am_gain_report& report) noexcept;

// A reference prepared for streaming measurements (am_gain_reference).
// Shared by the measurements made from it; freed when its last holder lets
// go. Its options are those of every measurement made from it.
class GainReference {
 public:
  int init(const am_gain_options& options, std::int64_t length) noexcept;
  int feed(const double* x, std::int64_t n) noexcept;
  int finish() noexcept;
  bool finished() const noexcept { return finished_; }
  const ReferenceSummary& summary() const noexcept { return summary_; }
  const am_gain_options& options() const noexcept { return options_; }

  void hold() noexcept { holders_.fetch_add(1, std::memory_order_relaxed); }
  // Drops one hold; true when it was the last, and the reference is to be
  // freed.
  bool let_go() noexcept { return holders_.fetch_sub(1, std::memory_order_acq_rel) == 1; }

 private:
  std::atomic<int> holders_{1};
  am_gain_options options_{};
  std::int64_t fed_ = 0;
  runtime::Buffer<double> opening_;
  SettledStore settled_;
  std::optional<PeriodStream> period_;
  // Its own steps under both periods (the choice comes at the end); absent
  // for a period it does not hold.
  std::optional<lumetra::StepMeter> own_[2];
  bool finished_ = false;
  ReferenceSummary summary_{};
};

// The quality analysis of the steps, fed the recording as it comes: each
// recording sample at position p pairs with the reference's at p - offset
// when that lies in a settled half.
class StepAnalysis {
 public:
  bool init() noexcept;
  // Starts over for a recording `offset` samples behind the reference.
  void start(const ReferenceSummary& reference, std::int64_t offset) noexcept;
  // Recording samples x[0 .. n) at positions at .. at + n.
  void feed(const double* x, std::int64_t n, std::int64_t at) noexcept;
  // Each step's quality (of the part of its half that was fed).
  void finish(StepQuality (&out)[lumetra::kSteps]) noexcept;
  bool started() const noexcept { return reference_ != nullptr; }

 private:
  void close_step() noexcept;

  const ReferenceSummary* reference_ = nullptr;
  std::int64_t offset_ = 0;
  runtime::Buffer<QualityMeter> meter_;  // one, on the heap: 40 KB
  int step_ = -1;                        // the step the meter holds, or -1
  StepQuality quality_[lumetra::kSteps];
};

// A streaming measurement against a prepared reference (am_gain_measurement).
class GainMeasurement {
 public:
  // correct_drift: the reference's drift_correct option, unless this is the
  // measurement of a recording converted already.
  GainMeasurement(const GainReference& reference, bool correct_drift) noexcept
      : reference_(&reference), correct_drift_(correct_drift) {}
  // false when the working memory cannot be had.
  bool init() noexcept;
  int feed(const double* x, std::int64_t n) noexcept;
  int finish(am_gain_report& report) noexcept;

 private:
  void align() noexcept;

  const GainReference* reference_;
  bool correct_drift_;
  std::optional<lumetra::HeapWorkspace> workspace_;  // for the alignment, then released
  runtime::Buffer<double> opening_;                  // the recording's first kSpan samples
  std::int64_t fed_ = 0;
  NonFinite non_finite_;  // the recording's first
  bool silent_opening_ = false;
  std::optional<lumetra::EstimateStream> stream_;
  StepAnalysis analysis_;
  // The whole recording, kept for its conversion when the drift is to be
  // corrected.
  runtime::Buffer<double> kept_;
  bool failed_ = false;  // out of memory while keeping it
  bool finished_ = false;
  am_gain_report report_{};
};

}  // namespace am
