// lumetra-measure: the gain of a device under the stepped test signal,
// measured on two audio files with the static core of lumetra, and the
// reports of it (table, JSON, chart).
#pragma once

#include <array>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/report_text.h"
#include "common/sample_source.h"
#include "lumetra-measure/step_period.h"
#include "lumetra/estimation.h"

namespace cli {

struct GainReport {
  AudioInfo reference;
  AudioInfo recording;
  double step_mode = 0.0;  // 0.0: 25.2 s steps, 1.0: 24.7 s
  double step_period = 0.0;
  bool period_from_option = false;  // --step-period gave it; else the reference's steps did
  StepPeriodCheck period_check{};   // both layouts judged on the reference
  // Why the period measured may be wrong: the reference fits neither layout
  // clearly, or it fits the one that --step-period did not give; "" when it
  // agrees.
  std::string period_warning;
  lumetra::StepLayout layout{};    // the steps of the reference
  lumetra::Estimate estimate{};    // lumetra_estimation's outputs with their diagnostics
  lumetra::Levels own{};           // the reference's own step levels and spreads
  double gain[lumetra::kSteps]{};  // estimate level minus own level, dB
  // The share of each step's settled (measured) half that comes from the
  // recording file rather than the silence that pads an aligned recording
  // ending early; NaN for an empty settled half.
  double coverage[lumetra::kSteps]{};
  // Steps (from 1) whose settled half is not wholly from the file, when the
  // alignment succeeded (when it failed, every step is measured on silence).
  std::vector<int> uncovered;
  std::optional<NonFiniteSample> non_finite;  // the first one the measurement uses
};

// Checks, from the files' headers, what lumetra needs: both files at its
// rate, a reference that holds the opening and 10 whole steps (of the given
// stepMode, or, with none given, of the shorter period), a recording as long
// as the opening. Throws InputError with the first thing that is wrong.
void check_gain_inputs(const AudioInfo& reference, const AudioInfo& recording,
                       std::optional<double> step_mode);

// The step period: step_mode when given (--step-period), else the one that
// check_step_period finds (--step-period auto); when none fits clearly, 25.2 s
// (24.7 s when the reference holds only that). Sets step_mode, step_period,
// period_from_option, period_check and period_warning.
void choose_step_period(GainReport& r, std::span<const double> reference,
                        std::optional<double> step_mode);

void choose_step_period(GainReport& r, const StepPeriodCheck& check,
                        std::optional<double> step_mode);

// What the measurement needs of the reference, gathered while it is read
// once, in chunks: its opening, its first non-finite sample, the step
// period check and its own levels under both layouts (the period is known
// only at its end). Bounded whatever the reference's length, so a batch's
// workers share it cheaply.
struct ReferenceSummary {
  AudioInfo info;               // frames: the samples read
  std::vector<double> opening;  // the first kSpan + 1 samples (all, when fewer)
  StepPeriodCheck period_check{};
  // Measured through the steps of 25.2 s, then 24.7 s, as a recording
  // aligned to itself; NaN levels for a layout it does not hold.
  std::array<lumetra::Levels, 2> own{};
  std::optional<NonFiniteSample> non_finite;  // its first, at the file's own rate
};

// Reads the reference to its end in chunks (a file whose header gives no
// length, such as a pipe, is read whole first). Throws as InputFile does.
ReferenceSummary read_reference(InputFile& file);
ReferenceSummary summarise_reference(const Audio& reference);

// check_gain_inputs, choose_step_period, then the estimate, fed the
// recording as it is read in chunks (a recording whose header gives no
// length is read whole first), and the reference's own levels through the
// same steps. Only the recording's first 720000 samples and one chunk are
// held at a time.
GainReport measure_gain(const ReferenceSummary& reference, InputFile& recording,
                        std::optional<double> step_mode);

// The same on two files read whole: bit for bit the same report.
GainReport measure_gain(const Audio& reference, const Audio& recording,
                        std::optional<double> step_mode);

// The readable report: files, the 11 steps, the peak level, the alignment
// diagnostics and the verdict with every cause that fired.
void print_gain_table(std::FILE* out, const GainReport& r);

// The --json document (schema "lumetra-measure/1", described in the README).
std::string gain_json(const GainReport& r);

// The --plot chart.
std::string gain_svg(const GainReport& r);

// Stable names of the library's failure causes, in bit order, and one line
// of text for each that fired (the library's sentence and the figures).
std::vector<std::string> cause_names(std::uint32_t causes);
std::vector<std::string> cause_texts(const GainReport& r);

// The verdict: "non_finite_samples" (an input holds NaN or infinite samples
// that the measurement uses), "not_trusted" (the library's failed is 1),
// "incomplete" (trusted, but the recording ends before some step's settled
// half does) or "trusted", the first that holds. Exit 0 for "trusted" only.
const char* gain_verdict(const GainReport& r);

// Everything behind the verdict: "non_finite_samples", the library's
// causes, "steps_not_covered"; names and one line of text each.
std::vector<std::string> verdict_causes(const GainReport& r);
std::vector<std::string> verdict_texts(const GainReport& r);

// Writes DIR/reference.wav (the stepped stimulus at 25.2 s steps) and
// DIR/recording.wav (it through a simulated device: a delay, a gain of its
// own on every step, a little noise), both mono 16-bit PCM at 48000 Hz, and
// makes DIR when it does not exist. Returns lines that describe the device.
// Throws OutputError.
std::vector<std::string> write_gain_demo(const std::string& dir);

}  // namespace cli
