/*
 * lumetra.h - gain of a device under a stepped test signal: alignment of the
 * recording to the reference, 11 step levels and spreads, the peak level.
 *
 * Samples are doubles on the 16-bit scale (full scale 32767) at 48000 Hz;
 * levels are dB re 32767. Lifecycle: lumetra_estimation_initialize() once,
 * lumetra_estimation() any number of times, lumetra_estimation_terminate()
 * at the end. The library keeps its large intermediates in static storage
 * (up to about 217 MB, committed as it is first used): calls into lumetra
 * must not overlap, from any thread.
 *
 * This header and quenbar.h declare different functions named "sum"; a
 * translation unit includes one of them.
 */
#ifndef LUMETRA_H
#define LUMETRA_H

#include "emx_runtime.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One complex double; arrays of it are interleaved re, im (16 bytes each). */
typedef struct complex_T {
  double re;
  double im;
} complex_T;

/* Sum of a record's first size[0] elements, exactly combineVectorElements. */
AM_API double b_sum(const emxArray_real_T* x) AM_NOEXCEPT;

/* x[0] + x[1] + ... + x[199], first to last. x: 200 doubles, read. */
AM_API double sum(const double x[200]) AM_NOEXCEPT;

/* Forward twiddle tables of the 2^21-point transform:
 * costab[j] = cos(2 pi j / 2^21), sintab[j] = -sin(2 pi j / 2^21), j = 0..2^20.
 * costab, sintab: 1048577 doubles each, written. */
AM_API void generate_twiddle_tables(double costab[1048577], double sintab[1048577]) AM_NOEXCEPT;

/* Inverse twiddle tables: the same costab, sintab[j] = +sin(2 pi j / 2^21). */
AM_API void b_generate_twiddle_tables(double costab[1048577], double sintab[1048577]) AM_NOEXCEPT;

/* y[k] = sum_{n<720000} x[n] e^{-2 pi i k n / 2^21}, k < 2^21 (radix 2).
 * x: 720000 doubles, read; y: 2097152 complex_T, written; disjoint. */
AM_API void fft(const double x[720000], complex_T y[2097152]) AM_NOEXCEPT;

/* y[n] = 2^-21 sum_k x[k] e^{+2 pi i k n / 2^21}. x, y: 2097152 complex_T,
 * disjoint; x read, y written. */
AM_API void ifft(const complex_T x[2097152], complex_T y[2097152]) AM_NOEXCEPT;

/* Full cross-correlation: r[j] = sum_n x[n + j - 719999] y[n], j < 1439999;
 * r[719999] is lag 0; a y that lags x by d samples peaks at r[719999 - d].
 * x, y: 720000 doubles, read; r: 1439999 doubles, written. */
AM_API void xcorr(const double x[720000], const double y[720000], double r[1439999]) AM_NOEXCEPT;

/* y[k] = |x[k]| (sign bit cleared), k < 1439999; y may be x. */
AM_API void b_abs(const double x[1439999], double y[1439999]) AM_NOEXCEPT;

/* RMS of 720000 samples (sum of squares first to last, / 720000). */
AM_API double rms(const double x[720000]) AM_NOEXCEPT;

/* RMS of the first size[0] elements of x; NaN when empty. */
AM_API double b_rms(const emxArray_real_T* x) AM_NOEXCEPT;

/* *x = log10(*x), the C library's. */
AM_API void b_log10(double* x) AM_NOEXCEPT;

/* Sets the non-finite globals (rt_InitInfAndNaN(8)). Call once, before any
 * other function of the library. */
AM_API void lumetra_estimation_initialize(void) AM_NOEXCEPT;

/* Does nothing; call after the last estimation. */
AM_API void lumetra_estimation_terminate(void) AM_NOEXCEPT;

/*
 * Aligns recording to reference and measures the recording in 11 steps.
 *
 * reference, recording: records read as column vectors, only size[0] (the
 * sample count) and data; neither is written. The reference is the stimulus
 * as played: a 15 s alignment opening (720000 samples), then 11 steps of
 * P = 25.2 s when stepMode == 0.0, else (NaN included) 24.7 s. Step k
 * (k = 1..11) starts at sample 720000 + floor(((k - 1) * P) * 48000)
 * (0-based, double products), steps 1..10 end where the next starts (steps 3
 * and 6 come out one sample short, 4 and 7 one long), step 11 ends with the
 * reference. Each step's settled half is its last ceil(L / 2) samples.
 * spareA, spareB: not read.
 *
 * Alignment: coarse, from where activity starts in the first 15 s of each
 * signal (on a 240-sample grid), then to the sample by cross-correlating the
 * reference's first 720000 samples with the coarsely moved recording. The
 * recording lags by totalDelay samples; the aligned recording is the
 * recording from its sample totalDelay on, 0.0 past its end.
 *
 * Outputs, each written only when its pointer is not NULL:
 *   stepLevel: 11 doubles, 20 log10(RMS / 32767) of each settled half; NaN
 *     for an empty step 11 (a reference that ends with step 10).
 *   stepRange: 11 doubles, highest minus lowest 20 log10(RMS / 32767) of the
 *     settled half's whole 2400-sample (50 ms) blocks, the lowest starting
 *     at 0 dB and the highest at -120 dB; a NaN block level is skipped; -120
 *     when the half holds no whole block. A silent block (-Inf) makes it +Inf.
 *   peakLevel: 20 log10((largest sample + 1e-6) / 32767) of the aligned
 *     recording, the largest taken with its sign (NaN when it is negative).
 *   failed: 1.0 when the measurement cannot be trusted, else 0.0.
 *
 * failed is 1.0 when any of these holds:
 *   - bad input (below): every stepLevel, stepRange and peakLevel is NaN;
 *   - the coarse delay exceeds 360000 samples, or |totalDelay| exceeds
 *     240000 (5 s), or totalDelay <= 0 (the recording does not lag);
 *   - the correlation peak lies within 240000 lags of either end of the
 *     1439999 lags, so that its surroundings cannot be judged;
 *   - the mean correlation magnitude of the 480000 lags around the peak (240000
 *     each side) exceeds 0.04 of the peak (a NaN ratio, from a zero or
 *     infinite peak, does not count as exceeding it);
 *   - no step has a usable block level (every stepRange below 0).
 *   When the alignment fails the steps are measured on silence: stepLevel
 *   -Inf, stepRange +Inf, peakLevel 20 log10(1e-6 / 32767) = -210.3 dB (an
 *   empty step 11: NaN and -120).
 *
 * Bad input, refused without reading any sample: a NULL record, size NULL,
 * numDims < 1, a negative or overflowing extent, another extent 0 (no
 * elements), data NULL; a reference shorter than 720000 + floor((10 P) 48000)
 * samples (12816000 at 25.2 s, 12576000 at 24.7 s); a recording shorter than
 * 720000 samples. A recording shorter than the reference plus totalDelay is
 * used: the missing tail is 0.0 and measures -Inf without setting failed.
 *
 * Non-finite samples pass through the arithmetic: where they enter the
 * correlation they make it NaN, which sets failed; in a settled half a NaN
 * makes the stepLevel NaN and its block skipped, an infinity makes the
 * stepLevel and the block level +Inf.
 *
 * Not reentrant: calls must not overlap. The call allocates no heap memory.
 */
AM_API void lumetra_estimation(const emxArray_real_T* reference, const emxArray_real_T* recording,
                               double spareA, double spareB, double stepMode,
                               double stepLevel[11], double stepRange[11], double* peakLevel,
                               double* failed) AM_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* LUMETRA_H */
