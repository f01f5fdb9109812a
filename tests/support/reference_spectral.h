// The straightforward spectral path, kept as the reference that the library's
// fast path must match bit for bit: tables rebuilt from cos and sin on every
// call, the radix-2 stage loops exactly in their defining order, and the
// correlation through three full transforms and explicit lag reordering.
// Indices count from 0. The functions allocate their work arrays on the heap
// and take about half a second per 2^21-point transform.
#pragma once

#include <vector>

#include "lumetra.h"

namespace reference {

inline constexpr int kSpan = 720000;
inline constexpr int kLags = 2 * kSpan - 1;
inline constexpr int kN = 1 << 21;
inline constexpr int kTableLength = kN / 2 + 1;
inline constexpr int kQuarterLength = kN / 4 + 1;

// Quarter wave, kQuarterLength doubles: q[n] = cos(2 pi n / N).
void quarter_wave(double* q);

// Full tables, kTableLength doubles each; inverse flips the sine's sign.
void twiddle_tables(double* costab, double* sintab, bool inverse);

// y: kN complex values; x: kSpan samples.
void fft(const double* x, complex_T* y);

// x, y: kN complex values, disjoint.
void ifft(const complex_T* x, complex_T* y);

// r: kLags values, lag j - 719999 at index j.
void xcorr(const double* x, const double* y, double* r);

// Root-mean-square with the squares stored first, then one left-to-right sum.
double rms(const double* x, int n);

}  // namespace reference
