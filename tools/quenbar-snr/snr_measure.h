// quenbar-snr's measurement: the gate and the measured file read side by
// side into the library, into the model every report of the program is
// drawn from.
#pragma once

#include <optional>

#include "audiomeasure.h"
#include "common/limits.h"
#include "common/report_text.h"
#include "common/sample_source.h"

namespace cli {

// One measured file against its gate: the library's report and the files
// behind it.
struct SnrModel {
  AudioInfo gate;  // as read: frames are the samples read
  AudioInfo measured;
  // The report; its lengths count the samples fed, which stop once they
  // are more than the measurement can use.
  am_snr_report report;
  // The report's non-finite sample with its file, at the file's own rate.
  std::optional<NonFiniteSample> non_finite;
  // The device's limits judged on the report, when --limits gave them.
  std::optional<Judgement> limits;
};

// Checks, from the files' headers, what an SNR measurement needs: both
// files at one rate with a 5 ms frame of at least one sample, a gate of at
// least one whole frame, and (unless `align`, which cuts the gate to the
// shifted measured signal) a measured signal at least as long as the
// gate's whole frames. Throws InputError with the first thing that is
// wrong.
void check_snr_inputs(const AudioInfo& gate, const AudioInfo& measured, bool align);

// The gate of a batch, read and checked once: its samples in memory only
// when it comes from standard input, which cannot be read again. Otherwise
// each worker reads it again as it measures, so that no process holds a
// whole recording.
struct SnrGate {
  AudioInfo info;  // as read
  std::optional<Audio> samples;
};

SnrGate prepare_gate(SampleSource& file, bool align);

// Measures `measured` gated by `gate`, both read to their ends side by side
// in equal chunks, so that memory stays bounded whatever their length; with
// `align`, shifted by their lag. The errors of reading are thrown as
// SampleSource throws them, the gate's first; the files are checked again
// as check_snr_inputs does once their lengths are known, and the library's
// refusals are thrown as check_status does.
SnrModel measure_snr(SampleSource& gate, SampleSource& measured, bool align);

// The report judged against the limits by the library.
Judgement judge_snr(const am_snr_report& report, const am_snr_limits& limits,
                    const std::string& file);

// 0 for a finite SNR from finite samples inside its limits, 6 (reject) for
// one outside them, else 1 (retest).
int exit_status(const SnrModel& m);

}  // namespace cli
