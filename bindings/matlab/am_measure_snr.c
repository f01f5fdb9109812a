/*
 * am_measure_snr - MATLAB and Octave gateway to am_snr_measure.
 *
 *   report = am_measure_snr(gate, measured, fs)
 *   report = am_measure_snr(gate, measured, fs, options)
 *
 * gate, measured: real double vectors on the 16-bit scale; fs: their rate,
 * Hz. options: a struct of
 *   align   true: measure the gate against the measured signal shifted by
 *           the lag between them, when the lag is reliable (default false)
 *
 * report: a struct of every field of am_snr_report (audiomeasure.h), in its
 * order: numbers as doubles, verdict, reason and non_finite_signal as their
 * names, aligned and lag_reliable as logicals.
 *
 * Build:  mkoctfile --mex -I<include> am_measure_snr.c -L<lib> -laudiomeasure   (Octave)
 *         mex -I<include> am_measure_snr.c -L<lib> -laudiomeasure                (MATLAB)
 */
#include "am_mex.h"

static const char* const kFunction = "am_measure_snr";

static void take_option(const char* field, const mxArray* value, void* into) {
  am_snr_options* o = (am_snr_options*)into;
  if (strcmp(field, "align") == 0) {
    o->align = am_mex_flag(field, value);
  } else {
    am_mex_fail("audiomeasure:badOption", "unknown option '%s'", field);
  }
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  static const char* fields[] = {
      "verdict", "reason", "aligned", "snr_db", "fs", "frame_length", "frame_count",
      "active_frames", "activity_factor", "active_power_sum", "inactive_power_sum", "noise_power",
      "signal_power", "noise_power_db", "signal_power_db", "lag", "lag_window", "lag_max",
      "gate_first", "measured_first", "gate_samples", "gate_length", "measured_length",
      "non_finite_signal", "non_finite_position", "non_finite_value", "lag_prominence",
      "lag_reliable"};
  am_snr_options options;
  am_snr_report r;
  const double* gate;
  const double* measured;
  int64_t gate_length, measured_length;
  double fs;
  mxArray* s;
  int i = 0;

  if (nrhs < 3 || nrhs > 4 || nlhs > 1) {
    am_mex_fail("audiomeasure:badArgument",
                "use report = %s(gate, measured, fs[, options])", kFunction);
  }
  gate = am_mex_samples("gate", prhs[0], &gate_length);
  measured = am_mex_samples("measured", prhs[1], &measured_length);
  fs = am_mex_scalar("audiomeasure:badArgument", "fs", prhs[2]);
  am_snr_options_init(&options);
  if (nrhs == 4) {
    am_mex_options(prhs[3], take_option, &options);
  }
  am_snr_report_init(&r);
  am_mex_check(am_snr_measure(gate, gate_length, measured, measured_length, fs, &options, &r));

  s = am_mex_struct(fields, (int)(sizeof fields / sizeof fields[0]));
  mxSetFieldByNumber(s, 0, i++, am_mex_name(AM_ENUM_VERDICT, r.verdict));
  mxSetFieldByNumber(s, 0, i++, am_mex_name(AM_ENUM_SNR_REASON, r.reason));
  mxSetFieldByNumber(s, 0, i++, am_mex_flag_out(r.aligned));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.snr_db));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.fs));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.frame_length));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.frame_count));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.active_frames));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.activity_factor));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.active_power_sum));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.inactive_power_sum));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.noise_power));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.signal_power));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.noise_power_db));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.signal_power_db));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.lag));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.lag_window));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.lag_max));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.gate_first));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.measured_first));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.gate_samples));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.gate_length));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.measured_length));
  mxSetFieldByNumber(s, 0, i++, am_mex_name(AM_ENUM_SIGNAL, r.non_finite_signal));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar((double)r.non_finite_position));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.non_finite_value));
  mxSetFieldByNumber(s, 0, i++, mxCreateDoubleScalar(r.lag_prominence));
  mxSetFieldByNumber(s, 0, i++, am_mex_flag_out(r.lag_reliable));
  plhs[0] = s;
}
