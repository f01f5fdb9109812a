/*
 * A host of the hosts' library written in C against audiomeasure.h alone:
 * the whole-array calls, and the streaming ones in chunks of a given size.
 * The tests run it from one thread and from several at once.
 */
#include "audiomeasure_host.h"

static int64_t smaller(int64_t a, int64_t b) {
  return a < b ? a : b;
}

int host_gain(const double* reference, int64_t reference_length, const double* recording,
              int64_t recording_length, int step_period, int64_t chunk, am_gain_report* report) {
  am_gain_options options;
  am_gain_reference* prepared = NULL;
  am_gain_measurement* measurement = NULL;
  int64_t at;
  int status;
  am_gain_options_init(&options);
  options.step_period = step_period;
  am_gain_report_init(report);
  if (chunk <= 0) {
    return am_gain_measure(reference, reference_length, recording, recording_length, &options,
                           report);
  }
  status = am_gain_reference_create(&options, reference_length, &prepared);
  for (at = 0; status == AM_OK && at < reference_length; at += chunk) {
    status = am_gain_reference_feed(prepared, reference + at, smaller(chunk, reference_length - at));
  }
  if (status == AM_OK) {
    status = am_gain_reference_finish(prepared);
  }
  if (status == AM_OK) {
    status = am_gain_create(prepared, &measurement);
  }
  /* The measurement holds the reference: letting go of it here is allowed. */
  am_gain_reference_destroy(prepared);
  for (at = 0; status == AM_OK && at < recording_length; at += chunk) {
    status =
        am_gain_feed_recording(measurement, recording + at, smaller(chunk, recording_length - at));
  }
  if (status == AM_OK) {
    status = am_gain_finish(measurement, report);
  }
  am_gain_destroy(measurement);
  return status;
}

int host_snr(const double* gate, int64_t gate_length, const double* measured,
             int64_t measured_length, double fs, int align, int64_t gate_chunk,
             int64_t measured_chunk, am_snr_report* report) {
  am_snr_options options;
  am_snr_measurement* measurement = NULL;
  int64_t g = 0;
  int64_t m = 0;
  int status;
  am_snr_options_init(&options);
  options.align = align;
  am_snr_report_init(report);
  if (gate_chunk <= 0) {
    return am_snr_measure(gate, gate_length, measured, measured_length, fs, &options, report);
  }
  status = am_snr_create(&options, fs, &measurement);
  /* Side by side, each signal in its own chunk size. */
  while (status == AM_OK && (g < gate_length || m < measured_length)) {
    if (g < gate_length) {
      status = am_snr_feed_gate(measurement, gate + g, smaller(gate_chunk, gate_length - g));
      g += gate_chunk;
    }
    if (status == AM_OK && m < measured_length) {
      status = am_snr_feed_measured(measurement, measured + m,
                                    smaller(measured_chunk, measured_length - m));
      m += measured_chunk;
    }
  }
  if (status == AM_OK) {
    status = am_snr_finish(measurement, report);
  }
  am_snr_destroy(measurement);
  return status;
}
