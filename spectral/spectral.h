// Internal interface of the spectral toolkit. The exported C functions of
// lumetra are thin wrappers over these; arrays of a fixed length are spans of
// that extent.
#pragma once

#include <span>

#include "lumetra.h"
#include "spectral/constants.h"
#include "spectral/engine.h"

namespace spectral {

// The exported complex record: re then im, interleaved in arrays.
using Complex = ::complex_T;

// With the static tables and workspace of the exported functions, defined
// beside them (fft1.cpp, fft.cpp, ifft.cpp): not reentrant.

// Quarter-wave cosine table: q[n] = cos(2 pi n / N). Evaluated once and
// cached; this copies the cached values.
void quarter_wave(std::span<double, kQuarterLength> q) noexcept;

// Full twiddle tables. Forward: sintab = -sin; inverse: sintab = +sin.
// costab is the same for both.
void twiddle_tables(std::span<double, kTableLength> costab, std::span<double, kTableLength> sintab,
                    bool inverse) noexcept;

// The transforms; the first call builds the tables. Each runs on the engine
// variant e (tests hand in each variant in turn).

// y[k] = sum_n x[n] e^{-2 pi i k n / N}, x zero-padded to N points.
void forward_transform(std::span<const double, kSpan> x, std::span<Complex, kN> y,
                       const Engine& e = engine()) noexcept;

// y[n] = 2^-21 sum_k x[k] e^{+2 pi i k n / N}; x and y disjoint.
void inverse_transform(std::span<const Complex, kN> x, std::span<Complex, kN> y,
                       const Engine& e = engine()) noexcept;

// Keeping no state of their own (spectral.cpp): calls may overlap when each
// has its own workspace.

// r[j] = sum_n x[n + j - 719999] y[n], lags -719999 .. 719999, in the
// workspace w with the tables t, on the engine variant e. y and r may lie
// inside w.work[0], apart from each other; x may not (Engine::correlate).
void cross_correlate(std::span<const double, kSpan> x, std::span<const double, kSpan> y,
                     std::span<double, kLags> r, const Workspace& w, const Tables& t,
                     const Engine& e = engine()) noexcept;

// y[k] = x[k] with the sign bit cleared; y may be x itself.
void abs_lags(std::span<const double, kLags> x, std::span<double, kLags> y) noexcept;

// RMS of the span: squares and one first-to-last sum, divided by 720000.
double rms_span(std::span<const double, kSpan> x) noexcept;

// RMS of the first size[0] elements of a record; NaN when empty or when the
// record does not hold a readable vector, or when its scratch cannot be had.
double rms_record(const emxArray_real_T* x) noexcept;

}  // namespace spectral
