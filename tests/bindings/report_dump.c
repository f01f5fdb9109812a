/*
 * report_dump - the bits the C API gives on the demonstration files, in the
 * text form every binding's test writes for its own reports and compares:
 * one line per report field, in C order,
 *
 *   name hex         a number: the 16 hex digits of its double's bits
 *                    (integers and flags as the double of their value)
 *   name[i] hex      an element of an array of numbers, i from 0
 *   name =text       an enumeration value by its name, or a list of names
 *                    joined by ',' (the causes)
 *   name[i] =text    a list of names per step
 *
 * Step masks (uncovered_steps, questionable_steps) are 11 flags, one per
 * step. Each line starts with the case it belongs to:
 *
 *   gain.          am_gain_measure on reference.wav, recording.wav, defaults
 *   gain_options.  the same with step_period 25.2, max_noise_distortion_db
 *                  -40 and max_spread_excess_db 0.001, drift_correct 1
 *   snr.           am_snr_measure on gate.wav, measured.wav at their rate
 *   judgement.     am_gain_judge of the gain. report against the limits
 *                  below (bindings that judge compare it)
 *
 * Usage: report_dump DIR   (DIR holds the four demonstration files)
 */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "audiomeasure.h"

static void fail(const char* what) {
  fprintf(stderr, "report_dump: %s\n", what);
  exit(1);
}

static uint32_t le32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* A mono 16-bit PCM WAV file's samples as their integer values. */
static double* read_wav(const char* dir, const char* name, int64_t* length, double* rate) {
  char path[4096];
  unsigned char head[12];
  unsigned char chunk[8];
  unsigned char format[16];
  int have_format = 0;
  FILE* f;
  snprintf(path, sizeof path, "%s/%s", dir, name);
  f = fopen(path, "rb");
  if (f == NULL || fread(head, 1, 12, f) != 12 || memcmp(head, "RIFF", 4) != 0 ||
      memcmp(head + 8, "WAVE", 4) != 0) {
    fail(path);
  }
  while (fread(chunk, 1, 8, f) == 8) {
    uint32_t size = le32(chunk + 4);
    if (memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
      if (fread(format, 1, 16, f) != 16 || fseek(f, (long)(size - 16 + (size & 1)), SEEK_CUR) != 0) {
        fail(path);
      }
      have_format = 1;
    } else if (memcmp(chunk, "data", 4) == 0) {
      int64_t n = size / 2;
      int64_t i;
      unsigned char* bytes = malloc(size + 1);
      double* samples = malloc((size_t)(n > 0 ? n : 1) * sizeof *samples);
      /* PCM, mono, 16 bits. */
      if (!have_format || format[0] != 1 || format[1] != 0 || format[2] != 1 || format[3] != 0 ||
          format[14] != 16 || bytes == NULL || samples == NULL || fread(bytes, 1, size, f) != size) {
        fail(path);
      }
      for (i = 0; i < n; ++i) {
        samples[i] = (double)(int16_t)(uint16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8);
      }
      free(bytes);
      fclose(f);
      *length = n;
      *rate = (double)le32(format + 4);
      return samples;
    } else if (fseek(f, (long)(size + (size & 1)), SEEK_CUR) != 0) {
      fail(path);
    }
  }
  fail(path);
  return NULL;
}

static const char* prefix = "";

static void number(const char* name, double x) {
  uint64_t bits;
  memcpy(&bits, &x, sizeof bits);
  printf("%s%s %016llx\n", prefix, name, (unsigned long long)bits);
}

static void numbers(const char* name, const double* x, int n) {
  int i;
  for (i = 0; i < n; ++i) {
    char key[64];
    snprintf(key, sizeof key, "%s[%d]", name, i);
    number(key, x[i]);
  }
}

static void integers(const char* name, const int64_t* x, int n) {
  double d[AM_STEPS];
  int i;
  for (i = 0; i < n; ++i) {
    d[i] = (double)x[i];
  }
  numbers(name, d, n);
}

static void steps(const char* name, uint32_t mask) {
  double d[AM_STEPS];
  int i;
  for (i = 0; i < AM_STEPS; ++i) {
    d[i] = (mask >> i) & 1u ? 1.0 : 0.0;
  }
  numbers(name, d, AM_STEPS);
}

static void named(const char* name, int kind, int value) {
  printf("%s%s =%s\n", prefix, name, am_enum_name(kind, value));
}

/* The names of the bits set, in bit order. */
static void names(const char* name, int kind, uint32_t mask) {
  const char* sep = "";
  int bit;
  printf("%s%s =", prefix, name);
  for (bit = 0; bit < 32; ++bit) {
    if ((mask >> bit) & 1u) {
      printf("%s%s", sep, am_enum_name(kind, bit));
      sep = ",";
    }
  }
  printf("\n");
}

static void gain(const am_gain_report* r) {
  int i;
  named("verdict", AM_ENUM_VERDICT, r->verdict);
  names("verdict_causes", AM_ENUM_CAUSE, r->verdict_causes);
  names("causes", AM_ENUM_CAUSE, r->causes);
  numbers("step_level", r->step_level, AM_STEPS);
  numbers("step_range", r->step_range, AM_STEPS);
  number("peak_level", r->peak_level);
  number("failed", r->failed);
  numbers("reference_step_level", r->reference_step_level, AM_STEPS);
  numbers("reference_step_range", r->reference_step_range, AM_STEPS);
  numbers("gain", r->gain, AM_STEPS);
  numbers("coverage", r->coverage, AM_STEPS);
  integers("step_start", r->step_start, AM_STEPS);
  integers("step_samples", r->step_samples, AM_STEPS);
  steps("uncovered_steps", r->uncovered_steps);
  named("step_period", AM_ENUM_PERIOD, r->step_period);
  number("step_period_s", r->step_period_s);
  number("step_mode", r->step_mode);
  named("step_period_source", AM_ENUM_PERIOD_SOURCE, r->step_period_source);
  named("step_period_warning", AM_ENUM_PERIOD_WARNING, r->step_period_warning);
  number("fitting_period_s", r->fitting_period_s);
  numbers("median_step_spread_db", r->median_step_spread_db, 2);
  number("layout_held[0]", r->layout_held[0]);
  number("layout_held[1]", r->layout_held[1]);
  number("onset_frame_reference", r->onset_frame_reference);
  number("onset_frame_recording", r->onset_frame_recording);
  number("coarse_delay", r->coarse_delay);
  number("coarse_delay_flag", r->coarse_delay_flag);
  number("peak_index", r->peak_index);
  named("aligned", AM_ENUM_ALIGNED, r->aligned);
  number("peak_value", r->peak_value);
  number("trust_ratio", r->trust_ratio);
  number("total_delay", r->total_delay);
  number("total_delay_ms", r->total_delay_ms);
  number("delay", (double)r->delay);
  number("aligned_samples", (double)r->aligned_samples);
  number("reference_length", (double)r->reference_length);
  number("recording_length", (double)r->recording_length);
  named("non_finite_signal", AM_ENUM_SIGNAL, r->non_finite_signal);
  number("non_finite_position", (double)r->non_finite_position);
  number("non_finite_value", r->non_finite_value);
  numbers("noise_distortion_db", r->noise_distortion_db, AM_STEPS);
  numbers("dc_offset_db", r->dc_offset_db, AM_STEPS);
  numbers("spread_excess_db", r->spread_excess_db, AM_STEPS);
  integers("clipped_samples", r->clipped_samples, AM_STEPS);
  for (i = 0; i < AM_STEPS; ++i) {
    char key[64];
    snprintf(key, sizeof key, "step_questionable[%d]", i);
    names(key, AM_ENUM_CAUSE, r->step_questionable[i]);
  }
  steps("questionable_steps", r->questionable_steps);
  number("drift_ppm", r->drift_ppm);
  number("drift_corrected", r->drift_corrected);
}

static void snr(const am_snr_report* r) {
  named("verdict", AM_ENUM_VERDICT, r->verdict);
  named("reason", AM_ENUM_SNR_REASON, r->reason);
  number("aligned", r->aligned);
  number("snr_db", r->snr_db);
  number("fs", r->fs);
  number("frame_length", r->frame_length);
  number("frame_count", r->frame_count);
  number("active_frames", r->active_frames);
  number("activity_factor", r->activity_factor);
  number("active_power_sum", r->active_power_sum);
  number("inactive_power_sum", r->inactive_power_sum);
  number("noise_power", r->noise_power);
  number("signal_power", r->signal_power);
  number("noise_power_db", r->noise_power_db);
  number("signal_power_db", r->signal_power_db);
  number("lag", (double)r->lag);
  number("lag_window", (double)r->lag_window);
  number("lag_max", (double)r->lag_max);
  number("gate_first", (double)r->gate_first);
  number("measured_first", (double)r->measured_first);
  number("gate_samples", (double)r->gate_samples);
  number("gate_length", (double)r->gate_length);
  number("measured_length", (double)r->measured_length);
  named("non_finite_signal", AM_ENUM_SIGNAL, r->non_finite_signal);
  number("non_finite_position", (double)r->non_finite_position);
  number("non_finite_value", r->non_finite_value);
  number("lag_prominence", r->lag_prominence);
  number("lag_reliable", r->lag_reliable);
}

int main(int argc, char** argv) {
  int64_t reference_length, recording_length, gate_length, measured_length;
  double rate, fs;
  double *reference, *recording, *gate, *measured;
  am_gain_options options;
  am_gain_report report;
  am_snr_report snr_report;
  am_gain_limits limits;
  am_judgement judgement;
  int i;
  if (argc != 2) {
    fail("usage: report_dump DIR");
  }
  reference = read_wav(argv[1], "reference.wav", &reference_length, &rate);
  recording = read_wav(argv[1], "recording.wav", &recording_length, &rate);
  gate = read_wav(argv[1], "gate.wav", &gate_length, &fs);
  measured = read_wav(argv[1], "measured.wav", &measured_length, &fs);

  am_gain_report_init(&report);
  if (am_gain_measure(reference, reference_length, recording, recording_length, NULL, &report)) {
    fail("am_gain_measure refused the demonstration pair");
  }
  prefix = "gain.";
  gain(&report);

  /* The limits judged: every gain within 2 dB of 0, every spread at most
   * 3 dB, the delay at most 12000 samples. */
  am_gain_limits_init(&limits);
  for (i = 0; i < AM_STEPS; ++i) {
    limits.gain_min_db[i] = -2.0;
    limits.gain_max_db[i] = 2.0;
    limits.spread_max_db[i] = 3.0;
  }
  limits.delay_max_samples = 12000.0;
  am_judgement_init(&judgement);
  if (am_gain_judge(&report, &limits, &judgement)) {
    fail("am_gain_judge refused");
  }
  prefix = "judgement.";
  named("outcome", AM_ENUM_LIMITS, judgement.outcome);
  names("failed_checks", AM_ENUM_CHECK, judgement.failed_checks);
  for (i = 0; i < AM_CHECK_COUNT; ++i) {
    char key[64];
    snprintf(key, sizeof key, "failed_steps[%d]", i);
    number(key, judgement.failed_steps[i]);
  }

  am_gain_options_init(&options);
  options.step_period = AM_PERIOD_25_2;
  options.max_noise_distortion_db = -40.0;
  options.max_spread_excess_db = 0.001;
  options.drift_correct = 1;
  am_gain_report_init(&report);
  if (am_gain_measure(reference, reference_length, recording, recording_length, &options,
                      &report)) {
    fail("am_gain_measure refused the demonstration pair with options");
  }
  prefix = "gain_options.";
  gain(&report);

  am_snr_report_init(&snr_report);
  if (am_snr_measure(gate, gate_length, measured, measured_length, fs, NULL, &snr_report)) {
    fail("am_snr_measure refused the demonstration pair");
  }
  prefix = "snr.";
  snr(&snr_report);

  free(reference);
  free(recording);
  free(gate);
  free(measured);
  return fflush(stdout) == 0 ? 0 : 1;
}
