/*
 * quenbar.h - signal-to-noise ratio of a measured signal, gated by a
 * reference signal's activity. Also exports the array API, the non-finite
 * values and combineVectorElements of emx_runtime.h.
 *
 * Samples are doubles on the 16-bit scale (full scale 32767). Lifecycle:
 * SNR_estimation_initialize() once, SNR_estimation() any number of times,
 * SNR_estimation_terminate() at the end. SNR_estimation keeps no static
 * state: estimates may run concurrently on different threads. Results do
 * not depend on the caller's floating-point state (rounding, flush-to-zero,
 * x87 precision; see emx_runtime.h).
 *
 * This header and lumetra.h declare different functions named "sum"; a
 * translation unit includes one of them.
 */
#ifndef QUENBAR_H
#define QUENBAR_H

#include "emx_runtime.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Sets the non-finite globals (rt_InitInfAndNaN(8)). Call once, first. */
AM_API void SNR_estimation_initialize(void) AM_NOEXCEPT;

/* Does nothing; call after the last estimate. */
AM_API void SNR_estimation_terminate(void) AM_NOEXCEPT;

/* Sum of a record's first size[0] elements: exactly combineVectorElements
 * (emx_runtime.h), under this library's name. */
AM_API double sum(const emxArray_real_T* x) AM_NOEXCEPT;

/*
 * SNR_estimation - signal-to-noise ratio of measuredSignal in dB, with the
 * 5 ms frames of gateSignal deciding which frames carry signal.
 *
 *   L = floor(0.005 * fs) samples per frame; N = gateSignal->size[0];
 *   F = floor(N / L) whole frames (samples after the last one are ignored).
 *   Frame i (samples i*L .. i*L + L - 1, counted from 0) has the gate level
 *     level_i = 20 log10((rms_i + 1e-6) / 32767)   (dB re 32767),
 *   raised to -120 when below it or NaN (no upper limit), then smoothed:
 *     level_i = level_i * 0.9 + level_(i-1) * (1 - 0.9)   for i >= 1,
 *   the weight 1 - 0.9 as evaluated in doubles (0.09999999999999998).
 *   A frame whose smoothed level is above -70 dB is active (exactly -70 is
 *   not). With p_i the mean square of the measured samples of frame i,
 *   A active frames, P_n = (sum of p_i over inactive frames) / (F - A):
 *     *snrDb = 10 log10(1e-12 + ((sum of p_i over active frames - A P_n) / A) / P_n).
 *   Every sum runs first to last in one double; the result is fixed to the
 *   last bit by that order and by the C library's sqrt and log10.
 *
 * gateSignal:     read. Its N samples are counted by size[0] only: pass it
 *                 as an N x 1 (or one-dimensional) record. A 1 x N record is
 *                 one sample, so it gives no frame and NaN.
 * measuredSignal: read. Sample-aligned with the gate; must hold at least
 *                 F * L samples, counted over all its extents (a 1 x N row
 *                 or any shape of N elements is accepted).
 * fs:             sample rate in Hz of both signals, at least 200 (so that a
 *                 frame holds at least one sample).
 * snrDb:          written: the estimate, dB (a power ratio). NULL: not written.
 * extraOut:       written: always 0.0 (first, before anything is read).
 *                 NULL: not written.
 * Samples are on the 16-bit scale (full scale 32767); the -70 dB threshold
 * is a frame RMS of about 10.36, the -120 dB floor an RMS of about 0.033.
 *
 * Degenerate signals, through the arithmetic above:
 *   - no frame (fewer than L gate samples), no inactive frame, or no active
 *     frame: 0/0, NaN;
 *   - mean active power below the noise power (by more than 1e-12 P_n):
 *     the logarithm of a negative number, NaN; a NaN measured sample: NaN;
 *   - mean active power equal to the noise power: -120 (the 1e-12 floor);
 *   - zero noise power with positive active power: +Inf;
 *   - an infinite (or overflowing) gate sample makes its frame and every later
 *     frame active; a NaN gate sample makes its frame's level -120.
 * Bad input gives NaN (bits FFF8000000000000) and reads nothing outside the
 * records: fs below 200, zero, negative, NaN or infinite; a NULL record; a
 * NULL data pointer when there are frames to read; a negative extent or an
 * element count past INT32_MAX in either record, or numDims < 1 or a NULL
 * size in the gate; a gate whose element count is below F * L (an N x 0
 * record); a measured signal holding fewer than F * L samples.
 *
 * Allocates nothing and keeps no state: calls may overlap on different
 * threads (each with its own outputs); the inputs are never modified. The
 * result does not depend on SNR_estimation_initialize.
 */
AM_API void SNR_estimation(const emxArray_real_T* gateSignal,
                           const emxArray_real_T* measuredSignal, double fs, double* snrDb,
                           double* extraOut) AM_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUENBAR_H */
