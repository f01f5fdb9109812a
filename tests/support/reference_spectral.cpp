#include "support/reference_spectral.h"

#include <cmath>

namespace reference {
namespace {

constexpr int kQuarter = kN / 4;
constexpr int kEighth = kN / 8;
constexpr double kAngleStep = 3.141592653589793 / 1048576.0;

// Advances a 21-bit reversed counter: toggles bits from the top down until a
// toggle sets a bit. Starting at 0 it yields rev21(0), rev21(1), ...
int next_reversed(int counter) {
  int bit = kN;
  do {
    bit >>= 1;
    counter ^= bit;
  } while ((counter & bit) == 0);
  return counter;
}

// Stages 1 to 21 on data already in bit-reversed order, in their defining
// order: within a stage first the pairs without a twiddle, then for each
// twiddle index m every block in ascending order.
void radix2_stages(complex_T* y, const double* costab, const double* sintab) {
  for (int p = 0; p < kN; p += 2) {
    const complex_T a = y[p];
    const complex_T b = y[p + 1];
    y[p] = {a.re + b.re, a.im + b.im};
    y[p + 1] = {a.re - b.re, a.im - b.im};
  }
  for (int h = 2; h < kN; h <<= 1) {
    const int stride = kN / (2 * h);
    for (int g = 0; g < kN; g += 2 * h) {
      const complex_T a = y[g];
      const complex_T b = y[g + h];
      y[g] = {a.re + b.re, a.im + b.im};
      y[g + h] = {a.re - b.re, a.im - b.im};
    }
    for (int m = 1; m < h; ++m) {
      const double wr = costab[m * stride];
      const double wi = sintab[m * stride];
      for (int g = 0; g < kN; g += 2 * h) {
        const int p = g + m;
        const complex_T b = y[p + h];
        const double tre = wr * b.re - wi * b.im;
        const double tim = wr * b.im + wi * b.re;
        const complex_T a = y[p];
        y[p + h].re = a.re - tre;
        y[p + h].im = a.im - tim;
        y[p].re = a.re + tre;
        y[p].im = a.im + tim;
      }
    }
  }
}

}  // namespace

void quarter_wave(double* q) {
  q[0] = 1.0;
  q[1] = 0.9999999999955118;
  for (int n = 2; n <= kEighth; ++n) {
    q[n] = std::cos(static_cast<double>(n) * kAngleStep);
  }
  q[kEighth + 1] = 0.7071046626516995;
  for (int n = kEighth + 2; n < kQuarter; ++n) {
    q[n] = std::sin(static_cast<double>(kQuarter - n) * kAngleStep);
  }
  q[kQuarter] = 0.0;
}

void twiddle_tables(double* costab, double* sintab, bool inverse) {
  std::vector<double> q(kQuarterLength);
  quarter_wave(q.data());
  costab[0] = 1.0;
  sintab[0] = 0.0;
  for (int k = 1; k <= kQuarter; ++k) {
    costab[k] = q[k];
    sintab[k] = inverse ? q[kQuarter - k] : -q[kQuarter - k];
    costab[kQuarter + k] = -q[kQuarter - k];
    sintab[kQuarter + k] = inverse ? q[k] : -q[k];
  }
}

void fft(const double* x, complex_T* y) {
  std::vector<double> costab(kTableLength);
  std::vector<double> sintab(kTableLength);
  twiddle_tables(costab.data(), sintab.data(), false);
  for (int k = 0; k < kN; ++k) {
    y[k] = {0.0, 0.0};
  }
  int rev = 0;
  for (int n = 0; n < kSpan; ++n) {
    y[rev] = {x[n], 0.0};
    if (n + 1 < kSpan) {
      rev = next_reversed(rev);
    }
  }
  radix2_stages(y, costab.data(), sintab.data());
}

void ifft(const complex_T* x, complex_T* y) {
  std::vector<double> costab(kTableLength);
  std::vector<double> sintab(kTableLength);
  twiddle_tables(costab.data(), sintab.data(), true);
  int rev = 0;
  for (int n = 0; n < kN; ++n) {
    y[rev] = x[n];
    if (n + 1 < kN) {
      rev = next_reversed(rev);
    }
  }
  radix2_stages(y, costab.data(), sintab.data());
  for (int k = 0; k < kN; ++k) {
    y[k].re *= 4.76837158203125e-07;
    y[k].im *= 4.76837158203125e-07;
  }
}

void xcorr(const double* x, const double* y, double* r) {
  std::vector<complex_T> dcv0(kN);
  std::vector<complex_T> dcv1(kN);
  std::vector<complex_T> dcv2(kN);
  reference::fft(x, dcv0.data());
  reference::fft(y, dcv1.data());
  for (int k = 0; k < kN; ++k) {
    const complex_T a = dcv0[k];
    const complex_T b = dcv1[k];
    dcv2[k].re = a.re * b.re + a.im * b.im;
    dcv2[k].im = a.im * b.re - a.re * b.im;
  }
  reference::ifft(dcv2.data(), dcv0.data());
  std::vector<double> c1(kN);
  for (int k = 0; k < kN; ++k) {
    c1[k] = dcv0[k].re;
  }
  std::vector<double> dv1(kLags);
  for (int j = 0; j < kSpan - 1; ++j) {
    dv1[j] = c1[kN - (kSpan - 1) + j];
  }
  for (int j = 0; j < kSpan; ++j) {
    dv1[kSpan - 1 + j] = c1[j];
  }
  for (int j = 0; j < kLags; ++j) {
    r[j] = dv1[j];
  }
}

double rms(const double* x, int n) {
  std::vector<double> squares(n > 0 ? n : 0);
  for (int k = 0; k < n; ++k) {
    squares[k] = x[k] * x[k];
  }
  double s = 0.0;
  if (n > 0) {
    s = squares[0];
    for (int k = 1; k < n; ++k) {
      s = s + squares[k];
    }
  }
  return std::sqrt(s / static_cast<double>(n));
}

}  // namespace reference
