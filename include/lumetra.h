/*
 * lumetra.h - gain of a device under a stepped test signal: alignment of the
 * recording to the reference, 11 step levels and spreads, the peak level.
 *
 * Samples are doubles on the 16-bit scale (full scale 32767) at 48000 Hz;
 * levels are dB re 32767. The library keeps its large intermediates in static
 * storage: calls into lumetra must not overlap.
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

/* Sets the non-finite globals (rt_InitInfAndNaN(8)). Call once, first. */
AM_API void lumetra_estimation_initialize(void) AM_NOEXCEPT;

/* Does nothing; call after the last estimation. */
AM_API void lumetra_estimation_terminate(void) AM_NOEXCEPT;

/*
 * Aligns recording to reference and measures 11 steps.
 * TODO(doc): full contract.
 */
AM_API void lumetra_estimation(const emxArray_real_T* reference, const emxArray_real_T* recording,
                               double spareA, double spareB, double stepMode,
                               double stepLevel[11], double stepRange[11], double* peakLevel,
                               double* failed) AM_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* LUMETRA_H */
