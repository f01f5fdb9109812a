/*
 * am_measure_gain - MATLAB and Octave gateway to am_gain_measure.
 *
 *   report = am_measure_gain(reference, recording)
 *   report = am_measure_gain(reference, recording, options)
 *
 * reference, recording: real double vectors at 48000 Hz on the 16-bit scale
 * (a 16-bit PCM sample's integer value: double(audioread(file, 'native'))).
 * options: a struct of any of
 *   step_period              'auto' (default), '25.2' or '24.7', or 25.2 or 24.7
 *   max_noise_distortion_db  a step is questionable above this (default -16)
 *   max_spread_excess_db     ... or with a spread this much above the reference's (default 1)
 *   max_clipped_samples      ... or with more clipped samples than this (default 0)
 *   drift_correct            true: convert the recording by its clock drift (default false)
 *
 * report: a struct of every field of am_gain_report (audiomeasure.h), in
 * its order: numbers as doubles (per-step fields 1x11, sample positions from
 * 0), enumerations as their names (verdict 'trusted', ...), causes as cell
 * arrays of names, masks of steps as 1x11 logicals, flags as logicals.
 *
 * Build:  mkoctfile --mex -I<include> am_measure_gain.c -L<lib> -laudiomeasure   (Octave)
 *         mex -I<include> am_measure_gain.c -L<lib> -laudiomeasure                (MATLAB)
 */
#include "am_mex.h"

static const char* const kFunction = "am_measure_gain";

static void take_option(const char* field, const mxArray* value, void* into) {
  am_gain_options* o = (am_gain_options*)into;
  if (strcmp(field, "step_period") == 0) {
    char text[8] = "";
    if (mxIsChar(value) && mxGetNumberOfElements(value) < sizeof text) {
      mxGetString(value, text, sizeof text);
    } else if (mxIsDouble(value) && !mxIsComplex(value) && mxGetNumberOfElements(value) == 1) {
      double seconds = mxGetPr(value)[0];
      strcpy(text, seconds == 25.2 ? "25.2" : seconds == 24.7 ? "24.7" : "?");
    }
    if (strcmp(text, "auto") == 0) {
      o->step_period = AM_PERIOD_AUTO;
    } else if (strcmp(text, "25.2") == 0) {
      o->step_period = AM_PERIOD_25_2;
    } else if (strcmp(text, "24.7") == 0) {
      o->step_period = AM_PERIOD_24_7;
    } else {
      am_mex_fail("audiomeasure:badOption",
                  "option step_period must be 'auto', '25.2', '24.7', 25.2 or 24.7");
    }
  } else if (strcmp(field, "max_noise_distortion_db") == 0) {
    o->max_noise_distortion_db = am_mex_scalar("audiomeasure:badOption", field, value);
  } else if (strcmp(field, "max_spread_excess_db") == 0) {
    o->max_spread_excess_db = am_mex_scalar("audiomeasure:badOption", field, value);
  } else if (strcmp(field, "max_clipped_samples") == 0) {
    double n = am_mex_scalar("audiomeasure:badOption", field, value);
    if (!(n >= 0.0 && n <= 9.0e18 && n == floor(n))) {
      am_mex_fail("audiomeasure:badOption",
                  "option max_clipped_samples must be a whole number of at least 0");
    }
    o->max_clipped_samples = (int64_t)n;
  } else if (strcmp(field, "drift_correct") == 0) {
    o->drift_correct = am_mex_flag(field, value);
  } else {
    am_mex_fail("audiomeasure:badOption", "unknown option '%s'", field);
  }
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  static const char* fields[] = {
      "verdict", "verdict_causes", "causes", "step_level", "step_range", "peak_level", "failed",
      "reference_step_level", "reference_step_range", "gain", "coverage", "step_start",
      "step_samples", "uncovered_steps", "step_period", "step_period_s", "step_mode",
      "step_period_source", "step_period_warning", "fitting_period_s", "median_step_spread_db",
      "layout_held", "onset_frame_reference", "onset_frame_recording", "coarse_delay",
      "coarse_delay_flag", "peak_index", "aligned", "peak_value", "trust_ratio", "total_delay",
      "total_delay_ms", "delay", "aligned_samples", "reference_length", "recording_length",
      "non_finite_signal", "non_finite_position", "non_finite_value", "noise_distortion_db",
      "dc_offset_db", "spread_excess_db", "clipped_samples", "step_questionable",
      "questionable_steps", "drift_ppm", "drift_corrected"};
  const int count = (int)(sizeof fields / sizeof fields[0]);
  am_gain_options options;
  am_gain_report r;
  const double* reference;
  const double* recording;
  int64_t reference_length, recording_length;
  mxArray* s;
  mxArray* per_step;
  int i = 0;
  int k;

  if (nrhs < 2 || nrhs > 3 || nlhs > 1) {
    am_mex_fail("audiomeasure:badArgument",
                "use report = %s(reference, recording[, options])", kFunction);
  }
  reference = am_mex_samples("reference", prhs[0], &reference_length);
  recording = am_mex_samples("recording", prhs[1], &recording_length);
  am_gain_options_init(&options);
  if (nrhs == 3) {
    am_mex_options(prhs[2], take_option, &options);
  }
  am_gain_report_init(&r);
  am_mex_check(am_gain_measure(reference, reference_length, recording,
                                          recording_length, &options, &r));

  s = am_mex_struct(fields, count);
  mxSetFieldByNumber(s, 0, i++, am_mex_name(AM_ENUM_VERDICT, r.verdict));
  mxSetFieldByNumber(s, 0, i++, am_mex_names(AM_ENUM_CAUSE, r.verdict_causes));
  mxSetFieldByNumber(s, 0, i++, am_mex_names(AM_ENUM_CAUSE, r.causes));
  mxSetFieldByNumber(s, 0, i++, am_mex_numbers(r.step_level, AM_STEPS));
  mxSetFieldByNumber(s, 0, i++, am_mex_numbers(r.step_range, AM_STEPS));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.peak_level));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.failed));
  mxSetFieldByNumber(s, 0, i++, am_mex_numbers(r.reference_step_level, AM_STEPS));
  mxSetFieldByNumber(s, 0, i++, am_mex_numbers(r.reference_step_range, AM_STEPS));
  mxSetFieldByNumber(s, 0, i++, am_mex_numbers(r.gain, AM_STEPS));
  mxSetFieldByNumber(s, 0, i++, am_mex_numbers(r.coverage, AM_STEPS));
  mxSetFieldByNumber(s, 0, i++, am_mex_integers(r.step_start, AM_STEPS));
  mxSetFieldByNumber(s, 0, i++, am_mex_integers(r.step_samples, AM_STEPS));
  mxSetFieldByNumber(s, 0, i++, am_mex_steps(r.uncovered_steps));
  mxSetFieldByNumber(s, 0, i++, am_mex_name(AM_ENUM_PERIOD, r.step_period));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.step_period_s));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.step_mode));
  mxSetFieldByNumber(s, 0, i++, am_mex_name(AM_ENUM_PERIOD_SOURCE, r.step_period_source));
  mxSetFieldByNumber(s, 0, i++, am_mex_name(AM_ENUM_PERIOD_WARNING, r.step_period_warning));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.fitting_period_s));
  mxSetFieldByNumber(s, 0, i++, am_mex_numbers(r.median_step_spread_db, 2));
  per_step = mxCreateLogicalMatrix(1, 2);
  mxGetLogicals(per_step)[0] = r.layout_held[0] != 0;
  mxGetLogicals(per_step)[1] = r.layout_held[1] != 0;
  mxSetFieldByNumber(s, 0, i++, per_step);
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.onset_frame_reference));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.onset_frame_recording));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.coarse_delay));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.coarse_delay_flag));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.peak_index));
  mxSetFieldByNumber(s, 0, i++, am_mex_name(AM_ENUM_ALIGNED, r.aligned));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.peak_value));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.trust_ratio));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.total_delay));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.total_delay_ms));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.delay));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.aligned_samples));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.reference_length));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.recording_length));
  mxSetFieldByNumber(s, 0, i++, am_mex_name(AM_ENUM_SIGNAL, r.non_finite_signal));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.non_finite_position));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.non_finite_value));
  mxSetFieldByNumber(s, 0, i++, am_mex_numbers(r.noise_distortion_db, AM_STEPS));
  mxSetFieldByNumber(s, 0, i++, am_mex_numbers(r.dc_offset_db, AM_STEPS));
  mxSetFieldByNumber(s, 0, i++, am_mex_numbers(r.spread_excess_db, AM_STEPS));
  mxSetFieldByNumber(s, 0, i++, am_mex_integers(r.clipped_samples, AM_STEPS));
  per_step = mxCreateCellMatrix(1, AM_STEPS);
  for (k = 0; k < AM_STEPS; ++k) {
    mxSetCell(per_step, (mwIndex)k, am_mex_names(AM_ENUM_CAUSE, r.step_questionable[k]));
  }
  mxSetFieldByNumber(s, 0, i++, per_step);
  mxSetFieldByNumber(s, 0, i++, am_mex_steps(r.questionable_steps));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.drift_ppm));
  mxSetFieldByNumber(s, 0, i++, am_mex_flag_out(r.drift_corrected));
  plhs[0] = s;
}
