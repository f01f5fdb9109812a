/*
 * audiomeasure.h - the hosts' library: measurements of a device under the
 * stepped test signal (gain) and of a signal-to-noise ratio (SNR), each with
 * every diagnostic behind it and a verdict, through one reentrant C API.
 *
 * The numbers at the heart of each report are those of the fixed libraries,
 * bit for bit: step_level, step_range, peak_level and failed are what
 * lumetra_estimation writes for the same arrays and step period, snr_db what
 * SNR_estimation writes. Around them the library adds what a test bench
 * needs to trust them: the alignment and its trust test, the reference's own
 * step levels and the gains, the step period read from the reference, how
 * much of each measured step comes from the recording, the first NaN or
 * infinite sample, the lag between a gate and its measured signal, and a
 * verdict with its causes.
 *
 * Samples are doubles on the 16-bit scale (full scale 32767); levels are dB
 * re 32767. Gain measurements are at 48000 Hz.
 *
 * Two forms of each measurement:
 *   - whole arrays: am_gain_measure, am_snr_measure;
 *   - streaming, for signals decoded while they are measured (memory stays
 *     bounded whatever their length): a gain reference is prepared once
 *     (am_gain_reference_*), then any number of recordings are measured
 *     against it (am_gain_create, am_gain_feed_recording, am_gain_finish,
 *     am_gain_destroy); an SNR measurement takes the gate and the measured
 *     signal side by side (am_snr_*). Fed in chunks of any size, finish
 *     gives the report of the whole arrays, bit for bit.
 *
 * Statuses: every function that can fail returns an int, 0 (AM_OK) when it
 * did its work, else a negative AM_ERR_* status: a refusal (a NULL pointer,
 * a length, rate or option out of range, an input too short for the
 * procedure, out of memory). A measure or finish call that returns 0 has
 * written a complete report, whatever its verdict; one that refuses leaves
 * the report untouched but for struct_size. Nothing here crashes on bad
 * input, writes outside the caller's buffers, or throws into the caller.
 *
 * Options and reports are caller-allocated structs of fixed-width fields,
 * with no implicit padding. Their first field, struct_size, holds the size
 * of the struct the caller was built with; fields are only ever added at the
 * end, and the library reads and writes only the first struct_size bytes
 * (options past them take their defaults), so a host built against an
 * older, smaller struct keeps working with a newer library, and a newer
 * host with an older one. The _init functions (am_gain_options_init, ...)
 * are inline in this header: they pass the caller's sizeof to the
 * exported am_*_init_size, which writes the defaults of the fields it knows
 * within that size, zeros past them, and struct_size. A host that declares
 * the structs itself (a binding) calls the _size functions with its own
 * size. A struct_size smaller than the first version's is refused
 * (AM_ERR_STRUCT_SIZE): call the _init function first.
 *
 * Threads and memory: the library keeps no state but read-only tables (the
 * correlation's twiddle factors, about 34 MB, built once on first need,
 * safely from any thread). Each measurement owns its working memory,
 * allocated when it is created and given back when it is destroyed: a gain
 * measurement's alignment takes 68 MB, given back as soon as the recording
 * is aligned (the library keeps up to two such blocks for the next
 * measurements, so that they find their pages already there); the rest of
 * a measurement is a few megabytes. A prepared gain reference keeps its
 * opening (6 MB) and the settled halves of its steps (12 MB for a 16-bit
 * stimulus, 24 MB otherwise). Any number of threads may measure at once,
 * each with its own measurements and reports, and they get the bits one
 * thread gets; a prepared gain reference may be shared by measurements on
 * any threads. The result does not depend on the caller's floating-point
 * state (as for the fixed libraries, see emx_runtime.h).
 *
 * Names and texts: every status and every enumeration value has a stable
 * name (hosts and the tools' JSON match on it) and one line of text, from
 * one table: am_enum_name, am_enum_text (am_status_text and
 * am_verdict_name are the two most used).
 */
#ifndef AUDIOMEASURE_H
#define AUDIOMEASURE_H

#include <stddef.h>
#include <stdint.h>

/* AUDIOMEASURE_API marks the exports (the library exports from its export
 * list, never from this header); Windows hosts import through it. */
#if defined(AM_STATIC) || (defined(AM_BUILDING_LIBRARY) && defined(_WIN32))
#define AUDIOMEASURE_API
#elif defined(AM_BUILDING_LIBRARY)
#define AUDIOMEASURE_API __attribute__((visibility("default")))
#elif defined(_WIN32)
#define AUDIOMEASURE_API __declspec(dllimport)
#else
#define AUDIOMEASURE_API
#endif

#ifdef __cplusplus
#define AUDIOMEASURE_NOEXCEPT noexcept
extern "C" {
#else
#define AUDIOMEASURE_NOEXCEPT
#endif

/* The _init functions, compiled into the host with its own sizeof. */
#if defined(_MSC_VER) && !defined(__cplusplus)
#define AUDIOMEASURE_INLINE static __inline
#else
#define AUDIOMEASURE_INLINE static inline
#endif

/* ------------------------------------------------------------ constants -- */

#define AM_STEPS 11                   /* steps of the stepped test signal */
#define AM_GAIN_RATE 48000            /* Hz: the rate of every gain measurement */
#define AM_GAIN_SPAN 720000           /* samples: the 15 s alignment opening */
#define AM_GAIN_LAGS 1439999          /* correlation values, 2 * AM_GAIN_SPAN - 1 */
#define AM_GAIN_ONSET_HOP 240         /* samples per onset frame of the coarse alignment */
#define AM_GAIN_COARSE_LIMIT 360000.0 /* largest coarse delay, samples */
#define AM_GAIN_MAX_DELAY 240000.0    /* largest accepted |total delay|, samples (5 s) */
#define AM_GAIN_TRUST_LIMIT 0.04      /* largest accepted trust ratio */
#define AM_PERIOD_STEADY_DB 1.0   /* a layout fits when its median step spread is at most this */
#define AM_PERIOD_UNSTEADY_DB 3.0 /* ... and the other layout's is at least this */
#define AM_PERIOD_GUARD 4800      /* samples left out at each end of a step when judging */
#define AM_MAX_SAMPLES 2147483647 /* the most samples a signal may hold (2^31 - 1) */
#define AM_SNR_LAG_WINDOW_S 10.0  /* s of each SNR signal's opening the lag is read from */
#define AM_SNR_LAG_MAX_S 5.0      /* the largest lag searched, s either way */
#define AM_SNR_LAG_NEIGHBOURHOOD_S 0.005 /* s about the lag's peak where no rival counts */
#define AM_SNR_LAG_PROMINENCE 3.0  /* a reliable lag's peak over its largest rival, at least */
#define AM_DRIFT_EXPLAINS_PPM 20.0 /* a drift this large explains a failed alignment */

/* ------------------------------------------------------- names and texts -- */

/* Statuses. */
enum {
  AM_OK = 0,
  AM_ERR_NULL = -1,              /* a required pointer is NULL */
  AM_ERR_LENGTH = -2,            /* a length is negative or above AM_MAX_SAMPLES */
  AM_ERR_RATE = -3,              /* fs is not a finite rate of at least 200 Hz */
  AM_ERR_OPTION = -4,            /* an option is out of range */
  AM_ERR_STRUCT_SIZE = -5,       /* struct_size is not set: call the struct's _init function */
  AM_ERR_SHORT_REFERENCE = -6,   /* the reference lacks the opening and 10 whole steps */
  AM_ERR_SHORT_RECORDING = -7,   /* the recording is shorter than the 15 s opening */
  AM_ERR_SHORT_GATE = -8,        /* the gate holds no whole 5 ms frame */
  AM_ERR_SHORT_MEASURED = -9,    /* the measured signal is shorter than the gate's frames */
  AM_ERR_NO_SHARED_FRAME = -10,  /* shifted by the lag, the signals share no whole frame */
  AM_ERR_REFERENCE_LENGTH = -11, /* the reference fed is not as long as announced */
  AM_ERR_STATE = -12,            /* the call does not fit the object's state (see each) */
  AM_ERR_OUT_OF_MEMORY = -13,    /* memory for the measurement could not be had */
  AM_ERR_UNRELIABLE_LAG = -14    /* align: the lag does not stand out, so it is not applied */
};

/* Verdicts: what a report's numbers may be used for. */
enum {
  /* gain */
  AM_VERDICT_TRUSTED = 0,            /* aligned, every step from the file, every sample finite */
  AM_VERDICT_NOT_TRUSTED = 1,        /* the alignment failed or no step has a block (failed 1) */
  AM_VERDICT_INCOMPLETE = 2,         /* the recording ends before some step's measured half */
  AM_VERDICT_NON_FINITE_SAMPLES = 3, /* a sample the measurement uses is NaN or infinite */
  AM_VERDICT_QUESTIONABLE = 6,       /* aligned and whole, but a step's reading is doubtful:
                                        noise and distortion, clipping or unsteadiness */
  /* SNR */
  AM_VERDICT_FINITE = 4,    /* a finite SNR */
  AM_VERDICT_NOT_FINITE = 5 /* the SNR is NaN or infinite: reason says why */
  /* (AM_VERDICT_NON_FINITE_SAMPLES serves the SNR as well) */
};

/* Causes behind a gain verdict; a report's cause fields hold the bits
 * (1u << AM_CAUSE_...), listed in this order. AM_CAUSE_UNREADABLE_INPUT to
 * AM_CAUSE_NO_USABLE_BLOCK are lumetra's reasons for failed = 1. */
enum {
  AM_CAUSE_NON_FINITE_SAMPLES = 0, /* see non_finite_* */
  AM_CAUSE_UNREADABLE_INPUT = 1,   /* never in a report: refused as AM_ERR_* */
  AM_CAUSE_SHORT_INPUT = 2,        /* never in a report: refused as AM_ERR_SHORT_* */
  AM_CAUSE_COARSE_DELAY_TOO_LARGE = 3,
  AM_CAUSE_DELAY_OUT_OF_RANGE = 4,
  AM_CAUSE_PEAK_NEAR_END = 5,
  AM_CAUSE_PEAK_NOT_PROMINENT = 6,
  AM_CAUSE_NOT_LAGGING = 7,
  AM_CAUSE_NO_USABLE_BLOCK = 8,
  AM_CAUSE_STEPS_NOT_COVERED = 9, /* see uncovered_steps and coverage */
  /* Why the alignment failed, where the library can tell: */
  AM_CAUSE_SILENT_REFERENCE = 10, /* the reference's opening is 0 throughout */
  AM_CAUSE_SILENT_RECORDING = 11, /* the recording's opening is 0 throughout */
  AM_CAUSE_CLOCK_DRIFT = 12,      /* the clocks drift apart (drift_ppm), which smears the peak */
  /* Why a step is questionable (step_questionable): */
  AM_CAUSE_NOISE_DISTORTION = 13, /* noise and distortion near the step's level */
  AM_CAUSE_CLIPPING = 14,         /* samples at or beyond full scale */
  AM_CAUSE_UNSTEADY = 15,         /* its spread exceeds the reference's */
  AM_CAUSE_COUNT = 16
};

/* Why an SNR is what it is (quenbar's reasons). */
enum {
  AM_SNR_FINITE = 0,
  AM_SNR_BAD_INPUT = 1,         /* never in a report: refused */
  AM_SNR_BAD_RATE = 2,          /* never in a report: refused */
  AM_SNR_NO_FRAMES = 3,         /* never in a report: refused */
  AM_SNR_NO_INACTIVE_FRAME = 4, /* every frame active: no noise estimate */
  AM_SNR_NO_ACTIVE_FRAME = 5,   /* no frame active: no signal */
  AM_SNR_NON_FINITE_SAMPLES = 6,
  AM_SNR_SILENT_MEASURED = 7,
  AM_SNR_SIGNAL_BELOW_NOISE = 8,
  AM_SNR_ZERO_NOISE = 9
};

/* Step periods: an option (AUTO reads it from the reference) and, in a
 * report, the period measured (25_2 or 24_7). */
enum { AM_PERIOD_AUTO = 0, AM_PERIOD_25_2 = 1, AM_PERIOD_24_7 = 2 };

/* How the period measured was chosen. */
enum { AM_PERIOD_SOURCE_OPTION = 0, AM_PERIOD_SOURCE_AUTO = 1 };

/* Why the period measured may be wrong. */
enum {
  AM_PERIOD_WARNING_NONE = 0,
  AM_PERIOD_WARNING_NO_CLEAR_FIT = 1, /* AUTO: neither layout fits clearly (25.2 s measured,
                                         or 24.7 s when the reference holds only that) */
  AM_PERIOD_WARNING_CONTRADICTED = 2  /* given: the other layout fits, the one given does not */
};

/* How the aligned recording was filled (lumetra's aligned copy). */
enum {
  AM_ALIGNED_NONE = 0,  /* the alignment failed: the steps are measured on silence */
  AM_ALIGNED_WHOLE = 1, /* every aligned position from the recording */
  AM_ALIGNED_HEAD = 2   /* the recording ends inside: the tail is silence */
};

/* The signals of a measurement (where a non-finite sample is). */
enum {
  AM_SIGNAL_NONE = 0,
  AM_SIGNAL_REFERENCE = 1,
  AM_SIGNAL_RECORDING = 2,
  AM_SIGNAL_GATE = 3,
  AM_SIGNAL_MEASURED = 4
};

/* The enumerations above, for am_enum_name and am_enum_text. */
enum {
  AM_ENUM_STATUS = 0,
  AM_ENUM_VERDICT = 1,
  AM_ENUM_CAUSE = 2,
  AM_ENUM_SNR_REASON = 3,
  AM_ENUM_PERIOD = 4,
  AM_ENUM_PERIOD_SOURCE = 5,
  AM_ENUM_PERIOD_WARNING = 6,
  AM_ENUM_ALIGNED = 7,
  AM_ENUM_SIGNAL = 8,
  AM_ENUM_CHECK = 9,
  AM_ENUM_LIMITS = 10
};

/* The checks of a device's limits (am_gain_judge, am_snr_judge). */
enum {
  AM_CHECK_GAIN = 0,             /* every step's gain, dB */
  AM_CHECK_SPREAD = 1,           /* every step's spread (step_range), dB */
  AM_CHECK_NOISE_DISTORTION = 2, /* every step's noise_distortion_db */
  AM_CHECK_CLIPPED = 3,          /* every step's clipped_samples */
  AM_CHECK_DELAY = 4,            /* |delay|, samples */
  AM_CHECK_DRIFT = 5,            /* |drift_ppm| */
  AM_CHECK_SNR = 6,              /* snr_db */
  AM_CHECK_COUNT = 7
};

/* A judgement's outcome. */
enum { AM_LIMITS_PASS = 0, AM_LIMITS_FAIL = 1 };

/* The stable name of value in enumeration kind ("out_of_memory",
 * "trusted", "peak_not_prominent", "no_active_frame", "25.2", "auto",
 * "no_clear_fit", "whole", "recording"), and one sentence about it for
 * people (no figures of one measurement: a host adds those). A value or
 * kind that does not exist gives "unknown" and "unknown value". Static
 * strings; never NULL. */
AUDIOMEASURE_API const char* am_enum_name(int kind, int value) AUDIOMEASURE_NOEXCEPT;
AUDIOMEASURE_API const char* am_enum_text(int kind, int value) AUDIOMEASURE_NOEXCEPT;

/* am_enum_text(AM_ENUM_STATUS, status). */
AUDIOMEASURE_API const char* am_status_text(int status) AUDIOMEASURE_NOEXCEPT;

/* am_enum_name(AM_ENUM_VERDICT, verdict). */
AUDIOMEASURE_API const char* am_verdict_name(int verdict) AUDIOMEASURE_NOEXCEPT;

/* The library's version, "MAJOR.MINOR.PATCH". */
AUDIOMEASURE_API const char* am_version(void) AUDIOMEASURE_NOEXCEPT;

/* ----------------------------------------------------------------- gain -- */

typedef struct am_gain_options {
  uint32_t struct_size; /* set by am_gain_options_init */
  int32_t step_period;  /* AM_PERIOD_AUTO (default), AM_PERIOD_25_2 or AM_PERIOD_24_7 */
  /*
   * When a step's reading is questionable (see the report's step quality).
   * Defaults, and why:
   *   - noise and distortion above -16 dB re the step's level: noise adds
   *     its power to the step's, so at -16 dB the level reads 0.1 dB high,
   *     the resolution a gain is judged to (a -73 dB step over a -90 dB
   *     noise floor stays clear of it);
   *   - more than 0 clipped samples: a clipped step's level is the
   *     converter's limit, not the device's;
   *   - a spread more than 1 dB above the reference's own: the device's
   *     level moved within the step (a dropout, a gain jump), which a
   *     single level cannot describe.
   */
  double max_noise_distortion_db; /* default -16.0 */
  double max_spread_excess_db;    /* default 1.0 */
  int64_t max_clipped_samples;    /* default 0 */
  /* 1: when the recording's clock drifts against the reference's
   * (drift_ppm), convert the recording by the drift and measure it again;
   * the report then describes the converted recording (drift_corrected 1).
   * The results are then no longer those of lumetra_estimation on the
   * recording given. A streaming measurement keeps the whole recording for
   * it. Default 0. */
  int32_t drift_correct;
  int32_t reserved0;
} am_gain_options;

/*
 * A gain measurement's report. Steps count from 1 in texts and from 0 in
 * the arrays; positions are samples at 48000 Hz from 0.
 */
typedef struct am_gain_report {
  uint32_t struct_size; /* set by am_gain_report_init */
  int32_t verdict;      /* AM_VERDICT_TRUSTED, _NOT_TRUSTED, _INCOMPLETE, _NON_FINITE_SAMPLES,
                           _QUESTIONABLE */
  /* Everything behind the verdict: bits 1u << AM_CAUSE_*; 0 when trusted. */
  uint32_t verdict_causes;
  /* lumetra's reasons for failed = 1 (bits AM_CAUSE_COARSE_DELAY_TOO_LARGE ..
   * AM_CAUSE_NO_USABLE_BLOCK); 0 when failed is 0. */
  uint32_t causes;

  /* What lumetra_estimation writes for these arrays and this period. */
  double step_level[AM_STEPS]; /* dB re 32767 of each step's settled (measured) half */
  double step_range[AM_STEPS]; /* highest minus lowest 50 ms block level; -120 without a block */
  double peak_level;           /* 20 log10((largest aligned sample + 1e-6) / 32767) */
  double failed;               /* 1.0 or 0.0 */

  /* The reference measured through the same steps, as a recording aligned
   * to itself, and the gain: step_level - reference_step_level. */
  double reference_step_level[AM_STEPS];
  double reference_step_range[AM_STEPS];
  double gain[AM_STEPS];
  /* The share of each step's settled half that comes from the recording
   * rather than the silence that pads a recording ending early (0 to 1);
   * NaN for an empty settled half (step 11 of a reference that ends with
   * step 10). */
  double coverage[AM_STEPS];
  int64_t step_start[AM_STEPS];   /* first sample of the step (reference and aligned recording) */
  int64_t step_samples[AM_STEPS]; /* its length; step 11 runs to the reference's end */
  /* Steps whose settled half is not wholly from the recording, bit k - 1
   * for step k; 0 when the alignment failed (every step is then measured
   * on silence). */
  uint32_t uncovered_steps;

  /* The step period. */
  int32_t step_period;         /* AM_PERIOD_25_2 or AM_PERIOD_24_7: the one measured */
  double step_period_s;        /* 25.2 or 24.7 */
  double step_mode;            /* lumetra_estimation's stepMode: 0.0 (25.2 s) or 1.0 (24.7 s) */
  int32_t step_period_source;  /* AM_PERIOD_SOURCE_OPTION or AM_PERIOD_SOURCE_AUTO */
  int32_t step_period_warning; /* AM_PERIOD_WARNING_* */
  /* Both layouts judged on the reference (also when the option gave the
   * period): [0] 25.2 s, [1] 24.7 s. A layout's figure is the median of
   * the spreads of steps 1 to 10, each over the whole step less
   * AM_PERIOD_GUARD samples at either end; NaN when the reference does not
   * hold the layout. fitting_period_s is the period that fits clearly, or
   * NaN when none does. */
  double fitting_period_s;
  double median_step_spread_db[2];
  int32_t layout_held[2]; /* 1: the reference holds the opening and 10 whole steps */

  /* The alignment: onset frames of the coarse alignment (240-sample frames
   * from 1; 0: none found), the coarse delay and its flag, the correlation
   * peak (index from 1 of AM_GAIN_LAGS), the trust ratio (NaN when not
   * judged) and the total delay: how many samples the recording lags the
   * reference. */
  int32_t onset_frame_reference;
  int32_t onset_frame_recording;
  double coarse_delay;
  double coarse_delay_flag;
  int32_t peak_index;
  int32_t aligned; /* AM_ALIGNED_* */
  double peak_value;
  double trust_ratio;
  double total_delay;      /* samples, as the procedure computes it */
  double total_delay_ms;   /* total_delay / 48 */
  int64_t delay;           /* total_delay as an integer */
  int64_t aligned_samples; /* aligned positions that hold recording samples */

  int64_t reference_length; /* samples measured */
  int64_t recording_length;

  /* The first NaN or infinite sample the measurement uses: of the whole
   * reference first, then of the recording's opening and the stretch that
   * fills the aligned recording. AM_SIGNAL_NONE and position -1 when there
   * is none. */
  int32_t non_finite_signal;
  int32_t reserved0;
  int64_t non_finite_position;
  double non_finite_value;

  /*
   * Step quality, from each step's settled half of the aligned recording
   * (NaN, 0 for a step without one, or when the alignment failed):
   *   - noise_distortion_db: the power of what no linear response to the
   *     reference explains (gain and phase at every frequency, fitted over
   *     runs of 85 ms), over the power it explains, dB;
   *   - dc_offset_db: the recording's mean over its RMS, dB;
   *   - spread_excess_db: step_range less reference_step_range;
   *   - clipped_samples: samples at or beyond full scale (|x| >= 32767).
   * step_questionable holds, per step, the causes that make its reading
   * questionable by the options' limits (bits 1u << AM_CAUSE_NOISE_DISTORTION,
   * _CLIPPING, _UNSTEADY); questionable_steps the steps with any (bit k - 1
   * for step k).
   */
  double noise_distortion_db[AM_STEPS];
  double dc_offset_db[AM_STEPS];
  double spread_excess_db[AM_STEPS];
  int64_t clipped_samples[AM_STEPS];
  uint32_t step_questionable[AM_STEPS];
  uint32_t questionable_steps;

  /*
   * The recording's clock against the reference's, from how the steps
   * slide against the reference: parts per million, positive when the
   * recording runs fast (its content comes earlier and earlier, as in a
   * recording sped up by 1 + drift_ppm / 1e6); NaN when the steps do not
   * show it (a recording of other content, silence). drift_corrected is 1
   * when the recording measured is the one converted by the drift (option
   * drift_correct); recording_length is then the converted length.
   */
  double drift_ppm;
  int32_t drift_corrected;
  int32_t reserved1;
} am_gain_report;

/* Writes the defaults of the first `size` bytes and struct_size = size. */
AUDIOMEASURE_API void am_gain_options_init_size(am_gain_options* options,
                                                uint32_t size) AUDIOMEASURE_NOEXCEPT;

/* Sets struct_size = size and clears the rest (NaN numbers, 0 counts, -1
 * positions, the verdict not_trusted, so that a report nothing was written
 * to never reads as a good one); call it on a report before handing it to
 * a measure or finish call. */
AUDIOMEASURE_API void am_gain_report_init_size(am_gain_report* report,
                                               uint32_t size) AUDIOMEASURE_NOEXCEPT;

/* The defaults, for a struct of the caller's size. */
AUDIOMEASURE_INLINE void am_gain_options_init(am_gain_options* options) AUDIOMEASURE_NOEXCEPT {
  am_gain_options_init_size(options, (uint32_t)sizeof *options);
}
AUDIOMEASURE_INLINE void am_gain_report_init(am_gain_report* report) AUDIOMEASURE_NOEXCEPT {
  am_gain_report_init_size(report, (uint32_t)sizeof *report);
}

/*
 * am_gain_reference_minimum - the shortest reference the period allows:
 * the opening and 10 whole steps (12816000 samples at 25.2 s, 12576000 at
 * 24.7 s; AM_PERIOD_AUTO: the shorter). The recording needs AM_GAIN_SPAN.
 * Returns that length, or -1 for a period that does not exist.
 */
AUDIOMEASURE_API int64_t am_gain_reference_minimum(int step_period) AUDIOMEASURE_NOEXCEPT;

/*
 * am_gain_measure - the gain of a device under the stepped test signal:
 * aligns `recording` (what the device captured) to `reference` (the
 * stimulus as played), measures the 11 steps of both, and judges the
 * result.
 *
 * reference: reference_length doubles at 48000 Hz, read.
 * recording: recording_length doubles at 48000 Hz, read.
 * options:   read; NULL: the defaults (step period auto).
 * report:    written (struct_size set by am_gain_report_init).
 *
 * Refusals (nothing read, the report untouched): AM_ERR_NULL (report,
 * or an array with a length above 0), AM_ERR_STRUCT_SIZE, AM_ERR_OPTION,
 * AM_ERR_LENGTH (negative or above AM_MAX_SAMPLES), AM_ERR_SHORT_REFERENCE
 * (below am_gain_reference_minimum of the period option; with auto, the
 * period measured is one the reference holds), AM_ERR_SHORT_RECORDING
 * (below AM_GAIN_SPAN), AM_ERR_OUT_OF_MEMORY.
 *
 * Verdict, the first that holds: NON_FINITE_SAMPLES (a sample used is NaN
 * or infinite), NOT_TRUSTED (failed is 1.0: the causes say why),
 * INCOMPLETE (the alignment held, but the recording ends before the
 * settled half of the steps in uncovered_steps ends), QUESTIONABLE (a
 * step's reading is doubtful by the options' limits: questionable_steps),
 * else TRUSTED. With drift_correct, the report is the converted
 * recording's when the drift is 1 ppm or more.
 * Returns AM_OK with every field written, or the refusal.
 */
AUDIOMEASURE_API int am_gain_measure(const double* reference, int64_t reference_length,
                                     const double* recording, int64_t recording_length,
                                     const am_gain_options* options,
                                     am_gain_report* report) AUDIOMEASURE_NOEXCEPT;

/*
 * The streaming form. A reference is prepared once: created with the
 * options and its length, fed its samples in order in chunks of any size,
 * then finished; it is read-only from then on and may be shared by any
 * number of measurements on any threads. Each measurement is created from
 * a finished reference, fed its recording in order in chunks of any size,
 * and finished into a report: bit for bit the report am_gain_measure gives
 * on the whole arrays. The recording's length need not be known: the
 * report measures what was fed.
 *
 * Memory, whatever the lengths: a reference holds its opening (6 MB)
 * and the settled halves of its steps (12 MB for a 16-bit stimulus, 24 MB
 * otherwise); a measurement holds the recording's opening (6 MB) and its
 * working memory (68 MB) until the recording is aligned, a few megabytes
 * after that. With drift_correct, a measurement keeps the whole recording
 * too, for its conversion.
 *
 * References and measurements count who uses them: a measurement keeps
 * its reference alive, so am_gain_reference_destroy may come before the
 * measurements' am_gain_destroy.
 */
typedef struct am_gain_reference am_gain_reference;
typedef struct am_gain_measurement am_gain_measurement;

/*
 * am_gain_reference_create - a reference of `length` samples to be fed.
 * *out is set to the new reference, or to NULL on a refusal: AM_ERR_NULL
 * (out), AM_ERR_STRUCT_SIZE, AM_ERR_OPTION, AM_ERR_LENGTH,
 * AM_ERR_SHORT_REFERENCE (length below am_gain_reference_minimum of the
 * period option), AM_ERR_OUT_OF_MEMORY.
 */
AUDIOMEASURE_API int am_gain_reference_create(const am_gain_options* options, int64_t length,
                                              am_gain_reference** out) AUDIOMEASURE_NOEXCEPT;

/*
 * am_gain_reference_feed - the next `count` samples (read). AM_ERR_NULL
 * (reference, or samples with count above 0), AM_ERR_LENGTH (count
 * negative, or more samples in all than announced), AM_ERR_STATE (already
 * finished).
 */
AUDIOMEASURE_API int am_gain_reference_feed(am_gain_reference* reference, const double* samples,
                                            int64_t count) AUDIOMEASURE_NOEXCEPT;

/*
 * am_gain_reference_finish - ends the reference: judges its step period
 * and measures its own steps. AM_ERR_NULL, AM_ERR_REFERENCE_LENGTH (fewer
 * samples fed than announced: the reference keeps taking them),
 * AM_ERR_OUT_OF_MEMORY (the shared tables). A second call does nothing and
 * returns AM_OK.
 */
AUDIOMEASURE_API int am_gain_reference_finish(am_gain_reference* reference) AUDIOMEASURE_NOEXCEPT;

/* Releases the caller's hold on the reference (NULL: nothing); it is
 * freed when no measurement uses it either. */
AUDIOMEASURE_API void am_gain_reference_destroy(am_gain_reference* reference) AUDIOMEASURE_NOEXCEPT;

/*
 * am_gain_reference_report - what a finished reference says of itself,
 * before any recording: the fields of a gain report that the reference
 * alone decides (the step period and how it was chosen, with both layouts'
 * figures and the warning; reference_step_level and reference_step_range;
 * step_start and step_samples; reference_length; a non-finite sample of
 * the reference, with the verdict non_finite_samples), the others as
 * am_gain_report_init leaves them (the verdict not_trusted: no recording
 * was measured). AM_ERR_NULL, AM_ERR_STRUCT_SIZE,
 * AM_ERR_STATE (not finished).
 */
AUDIOMEASURE_API int am_gain_reference_report(const am_gain_reference* reference,
                                              am_gain_report* report) AUDIOMEASURE_NOEXCEPT;

/*
 * am_gain_create - a measurement against a finished reference, its working
 * memory allocated now. *out is set to it, or to NULL on a refusal:
 * AM_ERR_NULL, AM_ERR_STATE (the reference is not finished),
 * AM_ERR_OUT_OF_MEMORY.
 */
AUDIOMEASURE_API int am_gain_create(const am_gain_reference* reference,
                                    am_gain_measurement** out) AUDIOMEASURE_NOEXCEPT;

/*
 * am_gain_feed_recording - the recording's next `count` samples (read).
 * The alignment runs once the first AM_GAIN_SPAN samples are in.
 * AM_ERR_NULL, AM_ERR_LENGTH (count negative, or more than AM_MAX_SAMPLES
 * in all), AM_ERR_STATE (already finished).
 */
AUDIOMEASURE_API int am_gain_feed_recording(am_gain_measurement* measurement, const double* samples,
                                            int64_t count) AUDIOMEASURE_NOEXCEPT;

/*
 * am_gain_finish - the report of the recording fed so far (which ends
 * there). AM_ERR_NULL, AM_ERR_STRUCT_SIZE, AM_ERR_SHORT_RECORDING (fewer
 * than AM_GAIN_SPAN samples: the measurement keeps taking them). After a
 * report, further feeds are AM_ERR_STATE and a second finish gives the
 * same report again.
 */
AUDIOMEASURE_API int am_gain_finish(am_gain_measurement* measurement,
                                    am_gain_report* report) AUDIOMEASURE_NOEXCEPT;

/* Frees the measurement (NULL: nothing). */
AUDIOMEASURE_API void am_gain_destroy(am_gain_measurement* measurement) AUDIOMEASURE_NOEXCEPT;

/* ------------------------------------------------------------------ SNR -- */

typedef struct am_snr_options {
  uint32_t struct_size; /* set by am_snr_options_init */
  /* 1: measure gate[i] against measured[i + lag], the lag estimated from
   * the signals' openings (the one that is late loses its first |lag|
   * samples, the gate is cut to what the measured signal covers), when
   * the lag is reliable (else AM_ERR_UNRELIABLE_LAG: a lag that does not
   * stand out is not applied); 0 (default): measure them as they are, the
   * lag only reported. */
  int32_t align;
} am_snr_options;

typedef struct am_snr_report {
  uint32_t struct_size; /* set by am_snr_report_init */
  int32_t verdict;      /* AM_VERDICT_FINITE, _NOT_FINITE, _NON_FINITE_SAMPLES */
  int32_t reason;       /* AM_SNR_*: why snr_db is what it is */
  int32_t aligned;      /* 1: the pairs were shifted by the lag (option align) */
  double snr_db;        /* what SNR_estimation writes for the pairs measured */
  double fs;            /* Hz */
  /* The quantities behind the estimate; NaN where it did not reach them.
   * Powers are mean squares of the measured samples (dB re 32767^2). */
  double frame_length;       /* L = floor(0.005 fs) */
  double frame_count;        /* F = floor(gate_samples / L) */
  double active_frames;      /* frames whose smoothed gate level is above -70 dB */
  double activity_factor;    /* active_frames / frame_count */
  double active_power_sum;   /* the active frames' powers, summed in frame order */
  double inactive_power_sum; /* the inactive frames' */
  double noise_power;        /* inactive_power_sum / (F - active_frames) */
  double signal_power;       /* (active_power_sum - active_frames noise_power) / active_frames */
  double noise_power_db;
  double signal_power_db;
  /* The lag of the measured signal behind the gate (> 0: measured is
   * late), from the cross-correlation of their openings: the first
   * AM_SNR_LAG_WINDOW_S seconds (at most 524288 samples) of each, lags up
   * to AM_SNR_LAG_MAX_S seconds (at most half that window) either way; 0
   * when an opening is silent. Each frequency is weighted to unit
   * magnitude (the phase transform), so the peak is sharp however coloured
   * or periodic the signals; of equally strong lags the one nearest 0
   * wins. */
  int64_t lag;
  int64_t lag_window; /* samples of each opening correlated */
  int64_t lag_max;    /* lags -lag_max .. lag_max were tried */
  int64_t gate_first; /* first sample of each signal measured */
  int64_t measured_first;
  int64_t gate_samples; /* gate samples handed to the estimate */
  int64_t gate_length;  /* samples given */
  int64_t measured_length;
  /* The first NaN or infinite sample the estimate reads (the frames'
   * samples of the gate, then of the measured signal): AM_SIGNAL_NONE and
   * position -1 when there is none. */
  int32_t non_finite_signal;
  int32_t reserved0;
  int64_t non_finite_position;
  double non_finite_value;

  /* How the lag's correlation peak stands out: its magnitude over the
   * largest outside AM_SNR_LAG_NEIGHBOURHOOD_S seconds of it (Inf when there
   * is none; NaN when the correlation is 0 everywhere). The lag is
   * reliable when that is at least AM_SNR_LAG_PROMINENCE: a lag beyond the
   * search, or signals without a distinct match (a steady tone, silence),
   * give no such peak. */
  double lag_prominence;
  int32_t lag_reliable;
  int32_t reserved1;
} am_snr_report;

/* As for the gain structs: the defaults of the first `size` bytes. */
AUDIOMEASURE_API void am_snr_options_init_size(am_snr_options* options,
                                               uint32_t size) AUDIOMEASURE_NOEXCEPT;
AUDIOMEASURE_API void am_snr_report_init_size(am_snr_report* report,
                                              uint32_t size) AUDIOMEASURE_NOEXCEPT;

AUDIOMEASURE_INLINE void am_snr_options_init(am_snr_options* options) AUDIOMEASURE_NOEXCEPT {
  am_snr_options_init_size(options, (uint32_t)sizeof *options);
}
AUDIOMEASURE_INLINE void am_snr_report_init(am_snr_report* report) AUDIOMEASURE_NOEXCEPT {
  am_snr_report_init_size(report, (uint32_t)sizeof *report);
}

/*
 * am_snr_measure - the SNR of `measured` in dB, `gate` deciding which 5 ms
 * frames hold signal, at fs Hz for both (see quenbar.h for the estimate),
 * with its diagnostics, the lag between the two and a verdict.
 *
 * gate:     gate_length doubles, read.
 * measured: measured_length doubles, read.
 * options:  read; NULL: the defaults (not aligned).
 * report:   written (struct_size set by am_snr_report_init).
 *
 * Refusals (nothing read, the report untouched): AM_ERR_NULL,
 * AM_ERR_STRUCT_SIZE, AM_ERR_OPTION, AM_ERR_LENGTH, AM_ERR_RATE (fs NaN,
 * infinite or below 200 Hz), AM_ERR_SHORT_GATE (fewer samples than one
 * frame), AM_ERR_SHORT_MEASURED (not aligned: fewer samples than the
 * gate's whole frames cover), AM_ERR_UNRELIABLE_LAG (aligned: the lag
 * does not stand out), AM_ERR_NO_SHARED_FRAME (aligned: the shifted
 * signals share no whole frame), AM_ERR_OUT_OF_MEMORY.
 *
 * Verdict: NON_FINITE_SAMPLES (a sample the estimate reads is NaN or
 * infinite), else FINITE or NOT_FINITE by snr_db (reason says why).
 */
AUDIOMEASURE_API int am_snr_measure(const double* gate, int64_t gate_length, const double* measured,
                                    int64_t measured_length, double fs,
                                    const am_snr_options* options,
                                    am_snr_report* report) AUDIOMEASURE_NOEXCEPT;

/*
 * The streaming form: the gate and the measured signal fed in order, each
 * in chunks of any size, side by side; finish gives the report
 * am_snr_measure gives on the whole arrays, bit for bit (but for one
 * freedom: when the frames hold NaN or infinite samples, the verdict
 * AM_VERDICT_NON_FINITE_SAMPLES, a NaN figure may carry another NaN's bits,
 * a sample's own or the default one). The samples one signal is fed ahead of the other are held until their partners come,
 * and so are the openings until the lag is known: feed the two side by
 * side and memory stays bounded (a few megabytes) whatever their length.
 */
typedef struct am_snr_measurement am_snr_measurement;

/* AM_ERR_NULL (out), AM_ERR_STRUCT_SIZE, AM_ERR_OPTION, AM_ERR_RATE,
 * AM_ERR_OUT_OF_MEMORY; *out is NULL on a refusal. */
AUDIOMEASURE_API int am_snr_create(const am_snr_options* options, double fs,
                                   am_snr_measurement** out) AUDIOMEASURE_NOEXCEPT;

/* The next `count` samples of the gate or of the measured signal (read).
 * AM_ERR_NULL, AM_ERR_LENGTH (count negative, or more than AM_MAX_SAMPLES
 * in all), AM_ERR_STATE (finished), AM_ERR_OUT_OF_MEMORY (what is held for
 * the other signal). */
AUDIOMEASURE_API int am_snr_feed_gate(am_snr_measurement* measurement, const double* samples,
                                      int64_t count) AUDIOMEASURE_NOEXCEPT;
AUDIOMEASURE_API int am_snr_feed_measured(am_snr_measurement* measurement, const double* samples,
                                          int64_t count) AUDIOMEASURE_NOEXCEPT;

/* The report of what was fed (both signals end there). AM_ERR_NULL,
 * AM_ERR_STRUCT_SIZE, AM_ERR_SHORT_GATE, AM_ERR_SHORT_MEASURED,
 * AM_ERR_UNRELIABLE_LAG, AM_ERR_NO_SHARED_FRAME (the measurement keeps
 * taking samples after these). After a report, feeds are AM_ERR_STATE and a second finish gives
 * the same report again. */
AUDIOMEASURE_API int am_snr_finish(am_snr_measurement* measurement,
                                   am_snr_report* report) AUDIOMEASURE_NOEXCEPT;

/* Frees the measurement (NULL: nothing). */
AUDIOMEASURE_API void am_snr_destroy(am_snr_measurement* measurement) AUDIOMEASURE_NOEXCEPT;

/* --------------------------------------------------------------- limits -- */

/*
 * A device's limits, judged on a report. Whether the measurement can be
 * used is the report's verdict; whether the device is inside its limits is
 * the judgement. A bench retests a device whose verdict is anything but
 * trusted (or finite) and rejects one whose usable reading fails its
 * limits. Bounds are inclusive; NaN means no bound. A step whose settled
 * half is empty is not judged; a figure that is NaN fails any bound it has
 * (it was not shown to be inside).
 */
typedef struct am_gain_limits {
  uint32_t struct_size; /* set by am_gain_limits_init */
  int32_t reserved0;
  double gain_min_db[AM_STEPS]; /* gain: the recording's level less the reference's */
  double gain_max_db[AM_STEPS];
  double spread_max_db[AM_STEPS];           /* step_range */
  double noise_distortion_max_db[AM_STEPS]; /* noise_distortion_db */
  double clipped_max[AM_STEPS];             /* clipped_samples */
  double delay_max_samples;                 /* |delay| */
  double drift_max_ppm;                     /* |drift_ppm| */
} am_gain_limits;

typedef struct am_snr_limits {
  uint32_t struct_size; /* set by am_snr_limits_init */
  int32_t reserved0;
  double snr_min_db;
  double snr_max_db;
} am_snr_limits;

typedef struct am_judgement {
  uint32_t struct_size;   /* set by am_judgement_init */
  int32_t outcome;        /* AM_LIMITS_PASS, or AM_LIMITS_FAIL when any check fails */
  uint32_t failed_checks; /* bits 1u << AM_CHECK_* */
  /* Per check, what failed: the steps (bit k - 1 for step k) of the
   * per-step checks, bit 0 for the others. */
  uint32_t failed_steps[AM_CHECK_COUNT];
} am_judgement;

/* Every bound NaN (no limits), a judgement cleared, and struct_size =
 * size; inline _init forms as for the other structs. */
AUDIOMEASURE_API void am_gain_limits_init_size(am_gain_limits* limits,
                                               uint32_t size) AUDIOMEASURE_NOEXCEPT;
AUDIOMEASURE_API void am_snr_limits_init_size(am_snr_limits* limits,
                                              uint32_t size) AUDIOMEASURE_NOEXCEPT;
AUDIOMEASURE_API void am_judgement_init_size(am_judgement* judgement,
                                             uint32_t size) AUDIOMEASURE_NOEXCEPT;
AUDIOMEASURE_INLINE void am_gain_limits_init(am_gain_limits* limits) AUDIOMEASURE_NOEXCEPT {
  am_gain_limits_init_size(limits, (uint32_t)sizeof *limits);
}
AUDIOMEASURE_INLINE void am_snr_limits_init(am_snr_limits* limits) AUDIOMEASURE_NOEXCEPT {
  am_snr_limits_init_size(limits, (uint32_t)sizeof *limits);
}
AUDIOMEASURE_INLINE void am_judgement_init(am_judgement* judgement) AUDIOMEASURE_NOEXCEPT {
  am_judgement_init_size(judgement, (uint32_t)sizeof *judgement);
}

/*
 * am_gain_judge, am_snr_judge - the report's figures against the limits
 * (read), into the judgement (written). AM_ERR_NULL, AM_ERR_STRUCT_SIZE
 * (any of the three structs not set by its _init). A bound below its
 * lower bound is AM_ERR_OPTION.
 */
AUDIOMEASURE_API int am_gain_judge(const am_gain_report* report, const am_gain_limits* limits,
                                   am_judgement* judgement) AUDIOMEASURE_NOEXCEPT;
AUDIOMEASURE_API int am_snr_judge(const am_snr_report* report, const am_snr_limits* limits,
                                  am_judgement* judgement) AUDIOMEASURE_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* AUDIOMEASURE_H */
