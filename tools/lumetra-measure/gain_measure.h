// lumetra-measure's measurement: the reference prepared once from its
// file, then each recording measured against it as it is read, into the
// model every report of the program is drawn from.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "audiomeasure.h"
#include "common/limits.h"
#include "common/report_text.h"
#include "common/sample_source.h"

namespace cli {

// One recording measured: the library's report and the files behind it.
struct GainModel {
  AudioInfo reference;  // as read: frames are the samples measured
  AudioInfo recording;
  // What it was measured with: the limits of a questionable step, whether
  // a drifting recording was to be converted.
  am_gain_options options;
  am_gain_report report;
  // The report's non-finite sample with its file, at the file's own rate.
  std::optional<NonFiniteSample> non_finite;
  // The device's limits judged on the report, when --limits gave them.
  std::optional<Judgement> limits;
};

// Checks, from the files' headers, what a gain measurement needs: both
// files at 48000 Hz, a reference that holds the opening and 10 whole steps
// of step_period (AM_PERIOD_*; auto: of the shorter period), a recording as
// long as the opening. Throws InputError with the first thing that is wrong.
void check_gain_inputs(const AudioInfo& reference, const AudioInfo& recording, int step_period);

// A reference prepared for any number of measurements, in this process or
// in the worker processes forked from it.
struct GainReference {
  struct Release {
    void operator()(am_gain_reference* r) const { am_gain_reference_destroy(r); }
  };
  AudioInfo info;                     // as read
  std::int64_t file_non_finite = -1;  // a resampled reference's, at its own rate
  am_gain_options options;            // the measurements' options: the period asked for, ...
  std::unique_ptr<am_gain_reference, Release> prepared;
};

// Reads the reference in chunks into the library (a file whose header
// gives no length is read whole first; one that ends before its header's
// length, found only at its end, is read again into a reference of the
// length it holds), for measurements with `options`. Throws as SampleSource
// does, InputError as check_gain_inputs does for the length read, and the
// library's refusals as check_status does.
GainReference prepare_reference(SampleSource& file, const am_gain_options& options);

// Measures the recording, fed to the library in chunks as it is read, and
// checks it as check_gain_inputs does once its length is known.
GainModel measure_gain(const GainReference& reference, SampleSource& recording);

// The report judged against the limits by the library, with every bound's
// figure: the steps without a settled half are not judged.
Judgement judge_gain(const am_gain_report& report, const am_gain_limits& limits,
                     const std::string& file);

// 0 for a trusted measurement inside its limits, 6 (reject) for one
// outside them, else 1 (retest).
int exit_status(const GainModel& m);

}  // namespace cli
