/*
 * quenbar.h - signal-to-noise ratio of a measured signal, gated by a
 * reference signal's activity.
 *
 * Samples are doubles on the 16-bit scale (full scale 32767). Lifecycle:
 * SNR_estimation_initialize() once, SNR_estimation() any number of times,
 * SNR_estimation_terminate() at the end. SNR_estimation keeps no static
 * state: estimates may run concurrently on different threads.
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

/* Sum of a record's first size[0] elements, exactly combineVectorElements. */
AM_API double sum(const emxArray_real_T* x) AM_NOEXCEPT;

/*
 * SNR in dB of measuredSignal, with the activity of gateSignal deciding which
 * 5 ms frames are signal and which are noise.
 * TODO(doc): full contract.
 */
AM_API void SNR_estimation(const emxArray_real_T* gateSignal,
                           const emxArray_real_T* measuredSignal, double fs, double* snrDb,
                           double* extraOut) AM_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* QUENBAR_H */
