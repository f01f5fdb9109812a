// The radix-2 stages shared by the forward and the inverse transform.
#pragma once

#include "spectral/spectral.h"

namespace spectral {

// Advances a 21-bit reversed counter: toggles bits from the top down until a
// toggle sets a bit. Starting at 0 it yields rev21(0), rev21(1), ...
inline int next_reversed(int counter) noexcept {
  int bit = kN;
  do {
    bit >>= 1;
    counter ^= bit;
  } while ((counter & bit) == 0);
  return counter;
}

// Butterfly with a twiddle on (p, p + h): each product and each sum rounded
// by itself, in this order.
inline void butterfly(Complex* y, int p, int h, double wr, double wi) noexcept {
  const Complex b = y[p + h];
  const double tre = wr * b.re - wi * b.im;
  const double tim = wr * b.im + wi * b.re;
  const Complex a = y[p];
  y[p + h].re = a.re - tre;
  y[p + h].im = a.im - tim;
  y[p].re = a.re + tre;
  y[p].im = a.im + tim;
}

// Stages 1 to 21 on data already in bit-reversed order.
inline void radix2_stages(Complex* y, const double* costab, const double* sintab) noexcept {
  for (int p = 0; p < kN; p += 2) {
    const Complex a = y[p];
    const Complex b = y[p + 1];
    y[p] = {a.re + b.re, a.im + b.im};
    y[p + 1] = {a.re - b.re, a.im - b.im};
  }
  for (int h = 2; h < kN; h <<= 1) {
    const int stride = kN / (2 * h);
    for (int g = 0; g < kN; g += 2 * h) {
      const Complex a = y[g];
      const Complex b = y[g + h];
      y[g] = {a.re + b.re, a.im + b.im};
      y[g + h] = {a.re - b.re, a.im - b.im};
    }
    for (int m = 1; m < h; ++m) {
      const int j = m * stride;
      for (int g = 0; g < kN; g += 2 * h) {
        butterfly(y, g + m, h, costab[j], sintab[j]);
      }
    }
  }
}

}  // namespace spectral
