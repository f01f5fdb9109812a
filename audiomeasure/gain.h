// Gain measurements: lumetra's estimate with its diagnostics, the
// reference's own steps, the step period read from the reference, the
// coverage of every step, the first non-finite sample, and the verdict.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "audiomeasure.h"
#include "audiomeasure/non_finite.h"
#include "audiomeasure/step_period.h"
#include "lumetra/estimation.h"
#include "runtime/buffer.h"

namespace am {

// Checks an options struct (NULL: the defaults) and copies what it holds.
int read_gain_options(const am_gain_options* options, am_gain_options& out) noexcept;

// What a measurement needs of its reference, gathered from its samples.
struct ReferenceSummary {
  const double* opening = nullptr;  // its first kSpan + 1 samples
  std::int64_t length = 0;
  PeriodCheck check{};
  PeriodChoice choice{};
  lumetra::StepLayout layout{};  // the steps of the period chosen
  lumetra::Levels own{};         // the reference measured through them
  NonFinite non_finite;          // its first non-finite sample
};

// am_gain_measure's work, its arguments checked but for the lengths.
int measure_gain(const double* reference, std::int64_t reference_length, const double* recording,
                 std::int64_t recording_length, const am_gain_options& options,
                 am_gain_report& report) noexcept;

// A reference prepared for streaming measurements (am_gain_reference).
// Shared by the measurements made from it; freed when its last holder lets
// go.
class GainReference {
 public:
  int init(const am_gain_options& options, std::int64_t length) noexcept;
  int feed(const double* x, std::int64_t n) noexcept;
  int finish() noexcept;
  bool finished() const noexcept { return finished_; }
  const ReferenceSummary& summary() const noexcept { return summary_; }

  void hold() noexcept { holders_.fetch_add(1, std::memory_order_relaxed); }
  // Drops one hold; true when it was the last, and the reference is to be
  // freed.
  bool let_go() noexcept { return holders_.fetch_sub(1, std::memory_order_acq_rel) == 1; }

 private:
  std::atomic<int> holders_{1};
  int option_ = AM_PERIOD_AUTO;
  std::int64_t fed_ = 0;
  runtime::Buffer<double> opening_;
  std::optional<PeriodStream> period_;
  // Its own steps under both periods (the choice comes at the end); absent
  // for a period it does not hold.
  std::optional<lumetra::StepMeter> own_[2];
  bool finished_ = false;
  ReferenceSummary summary_{};
};

// A streaming measurement against a prepared reference (am_gain_measurement).
class GainMeasurement {
 public:
  explicit GainMeasurement(const GainReference& reference) noexcept : reference_(&reference) {}
  // false when the working memory cannot be had.
  bool init() noexcept;
  int feed(const double* x, std::int64_t n) noexcept;
  int finish(am_gain_report& report) noexcept;

 private:
  const GainReference* reference_;
  std::optional<lumetra::HeapWorkspace> workspace_;  // for the alignment, then released
  runtime::Buffer<double> opening_;                  // the recording's first kSpan samples
  std::int64_t fed_ = 0;
  NonFinite non_finite_;  // the recording's first
  std::optional<lumetra::EstimateStream> stream_;
  bool finished_ = false;
  am_gain_report report_{};
};

}  // namespace am
