// Internal interface of the spectral toolkit. The exported C functions of
// lumetra are thin wrappers over these.
#pragma once

#include "lumetra.h"
#include "spectral/constants.h"

namespace spectral {

// The exported complex record: re then im, interleaved in arrays.
using Complex = ::complex_T;

// Quarter-wave cosine table, kQuarterLength doubles: q[n] = cos(2 pi n / N).
// Evaluated once and cached; this copies the cached values.
void quarter_wave(double* q) noexcept;

// Full twiddle tables, kTableLength doubles each. Forward: sintab = -sin;
// inverse: sintab = +sin. costab is the same for both.
void twiddle_tables(double* costab, double* sintab, bool inverse) noexcept;

// The transforms and the correlation are not reentrant (static tables and
// work arrays); the first call builds the tables.

// y[k] = sum_n x[n] e^{-2 pi i k n / N}; x: kSpan doubles, y: kN values.
void forward_transform(const double* x, Complex* y) noexcept;

// y[n] = 2^-21 sum_k x[k] e^{+2 pi i k n / N}; x, y: kN values, disjoint.
void inverse_transform(const Complex* x, Complex* y) noexcept;

// r[j] = sum_n x[n + j - 719999] y[n]; x, y: kSpan doubles; r: kLags doubles.
void cross_correlate(const double* x, const double* y, double* r) noexcept;

// y[k] = x[k] with the sign bit cleared, k < kLags; y may equal x.
void abs_lags(const double* x, double* y) noexcept;

// RMS of kSpan samples: squares and one first-to-last sum, divided by 720000.
double rms_span(const double* x) noexcept;

// RMS of the first size[0] elements of a record; NaN when empty or when the
// record does not hold a readable vector, or when its scratch cannot be had.
double rms_record(const emxArray_real_T* x) noexcept;

}  // namespace spectral
