/*
 * lumetra.h - gain of a device under a stepped test signal: alignment of the
 * recording to the reference, 11 step levels and spreads, the peak level.
 *
 * Samples are doubles on the 16-bit scale (full scale 32767) at 48000 Hz;
 * levels are dB re 32767. Lifecycle: lumetra_estimation_initialize() once,
 * lumetra_estimation() any number of times, lumetra_estimation_terminate()
 * at the end. The library keeps its large intermediates in static storage
 * (about 105 MB, committed as it is first used; on Linux the first use asks
 * the kernel, once, to back it with transparent huge pages, which spares the
 * first call most of its page faults where the kernel agrees, and changes no
 * result): calls into lumetra must not overlap, from any thread. Results do
 * not depend on the caller's floating-point state (rounding, flush-to-zero,
 * x87 precision; see emx_runtime.h).
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

/* Sum of a record's first size[0] elements, added first to last: exactly
 * combineVectorElements. 0.0 when size[0] is 0; NaN for a NULL record or one
 * that holds no readable vector (as for combineVectorElements). */
AM_API double b_sum(const emxArray_real_T* x) AM_NOEXCEPT;

/* x[0] + x[1] + ... + x[199], first to last. x: 200 doubles, read. */
AM_API double sum(const double x[200]) AM_NOEXCEPT;

/*
 * Spectral functions. Sizes are fixed: N = 2097152 = 2^21 transform points,
 * L = 720000 samples (15 s at 48000 Hz), 2L - 1 = 1439999 correlation lags.
 * No argument carries a length; the caller guarantees the extents below.
 * Indices count from 0.
 *
 * Results are fixed to the last bit: the transforms are radix-2 with the
 * stages of a decimation-in-time FFT on bit-reversed input, every butterfly
 *   t = (wr*b.re - wi*b.im, wr*b.im + wi*b.re),  b := a - t,  a := a + t
 * formed from separately rounded IEEE double operations (no fused
 * multiply-add), twiddles from the tables below. NaNs and infinities follow
 * IEEE arithmetic (a NaN's payload is not part of the result).
 *
 * Static memory and reentrancy: the quarter-wave table (4 MiB, the only cos
 * and sin evaluations) is computed on the first call that needs it and kept,
 * and so are the transforms' own twiddle tables (32 MiB, built on the first
 * fft, ifft or xcorr; a few tens of milliseconds in all). fft works in one,
 * ifft and xcorr in both of the library's two work arrays of 32 MiB. About
 * 101 MiB of static storage in all, each part touched only when first used.
 * The table builders, fft, ifft and xcorr must not run while another call
 * into lumetra runs; b_abs, rms, b_rms and b_log10 keep no state.
 * Nothing here allocates from the heap except b_rms's scratch record.
 *
 * Speed: arrays aligned to 64 bytes are fastest (fft and ifft write an
 * aligned y past the caches). An AVX2 variant is used when the processor has
 * AVX2; it gives the same bits as the x86-64 baseline.
 *
 * A NULL array pointer makes a function return without writing anything
 * (rms: NaN).
 */

/* Forward twiddle tables of the 2^21-point transform:
 * costab[j] = cos(2 pi j / N), sintab[j] = -sin(2 pi j / N), j = 0..N/2,
 * unfolded from one quarter-wave table q[n] = cos(2 pi n / N), n = 0..N/4,
 * whose entries 1 and 262145 are the stored constants 0.9999999999955118
 * (cos e) and 0.7071046626516995 (sin 262143 e), e = pi / 2^20, and whose
 * entries above N/8 are taken as sines of the complementary angle (the C
 * library's cos and sin; their last bit may differ between C libraries).
 * Signed zeros: costab[N/4] = +0, costab[N/2] = -1, sintab[0] = +0,
 * sintab[N/4] = -1, sintab[N/2] = -0.
 * costab, sintab: 1048577 doubles each, written. */
AM_API void generate_twiddle_tables(double costab[1048577], double sintab[1048577]) AM_NOEXCEPT;

/* Inverse twiddle tables: the same costab, sintab[j] = +sin(2 pi j / N)
 * (sintab[N/4] = +1, sintab[N/2] = +0). costab, sintab: 1048577 doubles
 * each, written. */
AM_API void b_generate_twiddle_tables(double costab[1048577], double sintab[1048577]) AM_NOEXCEPT;

/* Forward transform of L real samples zero-padded to N points:
 *   y[k] = sum_{n<720000} x[n] e^{-2 pi i k n / N},  k = 0..N-1,
 * unscaled; all N outputs are computed (no use of the real input's symmetry).
 * x: 720000 doubles, read; y: 2097152 complex_T, written entirely. x and y
 * must not overlap. A NaN sample leaves a NaN component in every output. */
AM_API void fft(const double x[720000], complex_T y[2097152]) AM_NOEXCEPT;

/* Inverse transform, scaled after the last stage:
 *   y[n] = 2^-21 * sum_{k<N} x[k] e^{+2 pi i k n / N},  n = 0..N-1
 * (each component of the unscaled result multiplied by 2^-21 once).
 * x: 2097152 complex_T, read; y: 2097152 complex_T, written entirely; x and y
 * must not overlap. A NaN input leaves a NaN component in every output. */
AM_API void ifft(const complex_T x[2097152], complex_T y[2097152]) AM_NOEXCEPT;

/* Full linear cross-correlation through the transforms, unnormalised:
 *   r[j] = R(j - 719999),  R(m) = sum_n x[n + m] y[n]
 * over 0 <= n, n + m < 720000, computed as ifft(fft(x) * conj(fft(y))), so
 * each lag carries rounding error (of the order 1e-16 * |x|_2 * |y|_2).
 * Lag layout: r[719999] is lag 0; r[0] = x[0]*y[719999] and r[1439998] =
 * x[719999]*y[0] (up to rounding). If y is x delayed by d samples the peak
 * is at r[719999 - d] (1-based 720000 - d); if x is y delayed by d, at
 * r[719999 + d]. A NaN in x or y makes every lag NaN.
 * x, y: 720000 doubles, read; r: 1439999 doubles, written. x and y are read
 * completely before r is written, so r may overlap them. */
AM_API void xcorr(const double x[720000], const double y[720000], double r[1439999]) AM_NOEXCEPT;

/* y[k] = x[k] with its sign bit cleared, k = 0..1439998: -0 gives +0, -Inf
 * gives +Inf, a NaN stays a NaN (sign cleared). x: 1439999 doubles, read;
 * y: 1439999 doubles, written; y may be x (in place). */
AM_API void b_abs(const double x[1439999], double y[1439999]) AM_NOEXCEPT;

/* Root-mean-square of 720000 samples: sqrt(s / 720000) with s = x[0]^2 +
 * ... + x[719999]^2, each square rounded, added first to last. A NaN gives
 * NaN; an infinite sample or an overflowing square (and no NaN) gives +Inf.
 * x: 720000 doubles, read. */
AM_API double rms(const double x[720000]) AM_NOEXCEPT;

/* Root-mean-square of the first n = size[0] elements of x (the other extents
 * only bound n): sqrt(combineVectorElements(squares) / n). An empty vector gives
 * NaN (0/0); NaN in, NaN out; an infinite element (and no NaN) gives +Inf.
 * The squares go to a scratch record on the heap: if it cannot be allocated,
 * or x is NULL or holds no readable vector (as for combineVectorElements),
 * the result is NaN. */
AM_API double b_rms(const emxArray_real_T* x) AM_NOEXCEPT;

/* *x = log10(*x), the C library's: 0 gives -Inf, a negative value or NaN
 * gives NaN, +Inf gives +Inf. A NULL x is ignored. */
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
