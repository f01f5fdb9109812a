// The one table of names and texts of every status and enumeration value of
// the API (see am_enum_name in audiomeasure.h). lumetra's failure causes and
// quenbar's reasons come from those libraries' own tables, so the names a
// host matches on are the ones the libraries' diagnostics always had.
#include <cstddef>
#include <iterator>
#include <span>

#include "audiomeasure.h"
#include "audiomeasure/names.h"
#include "lumetra/estimation.h"
#include "quenbar/snr.h"

namespace am {
namespace {

struct Entry {
  int value;
  const char* name;
  const char* text;
};

constexpr Entry kStatuses[] = {
    {AM_OK, "ok", "done"},
    {AM_ERR_NULL, "null_argument", "a required pointer is NULL"},
    {AM_ERR_LENGTH, "bad_length", "a length is negative or above 2147483647 samples"},
    {AM_ERR_RATE, "bad_rate",
     "the sample rate is not a finite number of at least 200 Hz (a 5 ms frame needs a whole "
     "sample)"},
    {AM_ERR_OPTION, "bad_option", "an option is out of range"},
    {AM_ERR_STRUCT_SIZE, "bad_struct_size",
     "a struct's struct_size is not set: call its _init function first"},
    {AM_ERR_SHORT_REFERENCE, "short_reference",
     "the reference is shorter than the 15 s opening and 10 whole steps"},
    {AM_ERR_SHORT_RECORDING, "short_recording",
     "the recording is shorter than the 15 s opening it is aligned by"},
    {AM_ERR_SHORT_GATE, "short_gate", "the gate is shorter than one 5 ms frame"},
    {AM_ERR_SHORT_MEASURED, "short_measured",
     "the measured signal is shorter than the gate's whole frames"},
    {AM_ERR_NO_SHARED_FRAME, "no_shared_frame",
     "shifted by the lag, the two signals share fewer samples than one 5 ms frame"},
    {AM_ERR_REFERENCE_LENGTH, "reference_length",
     "the reference fed does not have the length announced"},
    {AM_ERR_STATE, "bad_state",
     "the call does not fit the state of the measurement (it is finished, or not ready)"},
    {AM_ERR_OUT_OF_MEMORY, "out_of_memory", "memory for the measurement could not be had"},
    {AM_ERR_UNRELIABLE_LAG, "unreliable_lag",
     "the lag between the signals does not stand out (none within the search, or several "
     "alike), so it is not applied"},
};

constexpr Entry kVerdicts[] = {
    {AM_VERDICT_TRUSTED, "trusted",
     "the alignment is trusted, every step's measured half comes from the recording and every "
     "sample used is finite"},
    {AM_VERDICT_NOT_TRUSTED, "not_trusted",
     "the measurement cannot be trusted (failed = 1): the alignment failed or no step has a "
     "usable block"},
    {AM_VERDICT_INCOMPLETE, "incomplete",
     "the recording ends before some step's measured half does: those steps are measured "
     "partly on silence"},
    {AM_VERDICT_NON_FINITE_SAMPLES, "non_finite_samples",
     "a sample the measurement uses is NaN or infinite"},
    {AM_VERDICT_QUESTIONABLE, "questionable",
     "aligned and whole, but the reading of some step is doubtful: noise and distortion near "
     "its level, clipping, or a level that moves within it"},
    {AM_VERDICT_FINITE, "finite", "a finite SNR"},
    {AM_VERDICT_NOT_FINITE, "not_finite", "the SNR is NaN or infinite: its reason says why"},
};

// Causes: lumetra's, one place up, between the two the library adds.
constexpr Entry kCauses[] = {
    {AM_CAUSE_NON_FINITE_SAMPLES, "non_finite_samples",
     "a sample the measurement uses is NaN or infinite"},
    {AM_CAUSE_UNREADABLE_INPUT, lumetra::kCauseTexts[0].name, lumetra::kCauseTexts[0].text},
    {AM_CAUSE_SHORT_INPUT, lumetra::kCauseTexts[1].name, lumetra::kCauseTexts[1].text},
    {AM_CAUSE_COARSE_DELAY_TOO_LARGE, lumetra::kCauseTexts[2].name, lumetra::kCauseTexts[2].text},
    {AM_CAUSE_DELAY_OUT_OF_RANGE, lumetra::kCauseTexts[3].name, lumetra::kCauseTexts[3].text},
    {AM_CAUSE_PEAK_NEAR_END, lumetra::kCauseTexts[4].name, lumetra::kCauseTexts[4].text},
    {AM_CAUSE_PEAK_NOT_PROMINENT, lumetra::kCauseTexts[5].name, lumetra::kCauseTexts[5].text},
    {AM_CAUSE_NOT_LAGGING, lumetra::kCauseTexts[6].name, lumetra::kCauseTexts[6].text},
    {AM_CAUSE_NO_USABLE_BLOCK, lumetra::kCauseTexts[7].name, lumetra::kCauseTexts[7].text},
    {AM_CAUSE_STEPS_NOT_COVERED, "steps_not_covered",
     "the recording ends early: the measured half of some steps comes only partly from it, the "
     "rest is silence padding"},
    {AM_CAUSE_SILENT_REFERENCE, "silent_reference",
     "the reference's 15 s opening is silent (0 throughout): there is nothing to align by"},
    {AM_CAUSE_SILENT_RECORDING, "silent_recording",
     "the recording's 15 s opening is silent (0 throughout): there is nothing to align"},
    {AM_CAUSE_CLOCK_DRIFT, "clock_drift",
     "the recording's clock drifts against the reference's, which smears the correlation peak: "
     "converting the recording by the drift (drift correction) lets it align"},
    {AM_CAUSE_NOISE_DISTORTION, "noise_distortion",
     "noise and distortion (what no linear response to the reference explains) come near the "
     "step's level"},
    {AM_CAUSE_CLIPPING, "clipping", "samples of the step are at or beyond full scale"},
    {AM_CAUSE_UNSTEADY, "unsteady",
     "the step's level moves: its 50 ms block levels spread more than the reference's own"},
};
static_assert(std::size(kCauses) == AM_CAUSE_COUNT);
static_assert(std::size(lumetra::kCauseTexts) == AM_CAUSE_NO_USABLE_BLOCK);

constexpr Entry kReasons[] = {
    {AM_SNR_FINITE, quenbar::kReasonTexts[0].name, quenbar::kReasonTexts[0].text},
    {AM_SNR_BAD_INPUT, quenbar::kReasonTexts[1].name, quenbar::kReasonTexts[1].text},
    {AM_SNR_BAD_RATE, quenbar::kReasonTexts[2].name, quenbar::kReasonTexts[2].text},
    {AM_SNR_NO_FRAMES, quenbar::kReasonTexts[3].name, quenbar::kReasonTexts[3].text},
    {AM_SNR_NO_INACTIVE_FRAME, quenbar::kReasonTexts[4].name, quenbar::kReasonTexts[4].text},
    {AM_SNR_NO_ACTIVE_FRAME, quenbar::kReasonTexts[5].name, quenbar::kReasonTexts[5].text},
    {AM_SNR_NON_FINITE_SAMPLES, quenbar::kReasonTexts[6].name, quenbar::kReasonTexts[6].text},
    {AM_SNR_SILENT_MEASURED, quenbar::kReasonTexts[7].name, quenbar::kReasonTexts[7].text},
    {AM_SNR_SIGNAL_BELOW_NOISE, quenbar::kReasonTexts[8].name, quenbar::kReasonTexts[8].text},
    {AM_SNR_ZERO_NOISE, quenbar::kReasonTexts[9].name, quenbar::kReasonTexts[9].text},
};
static_assert(std::size(kReasons) == std::size(quenbar::kReasonTexts));

constexpr Entry kPeriods[] = {
    {AM_PERIOD_AUTO, "auto", "the period the reference's own steps are steady under"},
    {AM_PERIOD_25_2, "25.2", "steps of 25.2 s"},
    {AM_PERIOD_24_7, "24.7", "steps of 24.7 s"},
};

constexpr Entry kPeriodSources[] = {
    {AM_PERIOD_SOURCE_OPTION, "option", "the step period was given"},
    {AM_PERIOD_SOURCE_AUTO, "auto", "the reference's own steps gave the step period"},
};

constexpr Entry kPeriodWarnings[] = {
    {AM_PERIOD_WARNING_NONE, "none", "the reference's steps agree with the period measured"},
    {AM_PERIOD_WARNING_NO_CLEAR_FIT, "no_clear_fit",
     "the reference's steps fit neither step period clearly"},
    {AM_PERIOD_WARNING_CONTRADICTED, "contradicted",
     "the reference's steps fit the other step period, not the one given"},
};

constexpr Entry kChecks[] = {
    {AM_CHECK_GAIN, "gain", "the step's gain: the recording's level less the reference's, dB"},
    {AM_CHECK_SPREAD, "spread", "the step's spread of 50 ms block levels, dB"},
    {AM_CHECK_NOISE_DISTORTION, "noise_distortion",
     "the step's noise and distortion relative to its explained level, dB"},
    {AM_CHECK_CLIPPED, "clipped_samples", "the step's samples at or beyond full scale"},
    {AM_CHECK_DELAY, "delay", "how far the recording lags the reference, samples (its size)"},
    {AM_CHECK_DRIFT, "drift", "the recording's clock drift, ppm (its size)"},
    {AM_CHECK_SNR, "snr", "the signal-to-noise ratio, dB"},
};

constexpr Entry kLimitOutcomes[] = {
    {AM_LIMITS_PASS, "pass", "every figure is inside its limits"},
    {AM_LIMITS_FAIL, "fail", "some figure is outside its limits"},
};

constexpr Entry kAligned[] = {
    {AM_ALIGNED_NONE, "none", "the alignment failed, so the steps are measured on silence"},
    {AM_ALIGNED_WHOLE, "whole", "every aligned position holds a recording sample"},
    {AM_ALIGNED_HEAD, "head",
     "the recording ends early: the aligned positions after its end are silence"},
};

constexpr Entry kSignals[] = {
    {AM_SIGNAL_NONE, "none", "no signal"},
    {AM_SIGNAL_REFERENCE, "reference", "the stimulus as played"},
    {AM_SIGNAL_RECORDING, "recording", "the device's recording of the stimulus"},
    {AM_SIGNAL_GATE, "gate", "the signal whose frame levels decide which frames hold signal"},
    {AM_SIGNAL_MEASURED, "measured", "the signal whose SNR is measured"},
};

std::span<const Entry> table(int kind) noexcept {
  switch (kind) {
    case AM_ENUM_STATUS:
      return kStatuses;
    case AM_ENUM_VERDICT:
      return kVerdicts;
    case AM_ENUM_CAUSE:
      return kCauses;
    case AM_ENUM_SNR_REASON:
      return kReasons;
    case AM_ENUM_PERIOD:
      return kPeriods;
    case AM_ENUM_PERIOD_SOURCE:
      return kPeriodSources;
    case AM_ENUM_PERIOD_WARNING:
      return kPeriodWarnings;
    case AM_ENUM_ALIGNED:
      return kAligned;
    case AM_ENUM_SIGNAL:
      return kSignals;
    case AM_ENUM_CHECK:
      return kChecks;
    case AM_ENUM_LIMITS:
      return kLimitOutcomes;
    default:
      return {};
  }
}

const Entry* find(int kind, int value) noexcept {
  for (const Entry& e : table(kind)) {
    if (e.value == value) {
      return &e;
    }
  }
  return nullptr;
}

}  // namespace

const char* enum_name(int kind, int value) noexcept {
  const Entry* e = find(kind, value);
  return e != nullptr ? e->name : "unknown";
}

const char* enum_text(int kind, int value) noexcept {
  const Entry* e = find(kind, value);
  return e != nullptr ? e->text : "unknown value";
}

}  // namespace am
