// A small radix-2 FFT for the analyses of the hosts' library (the lag of an
// SNR measurement, the quality of a gain measurement's steps). These figures
// are judgements, not fixed outputs: any accurate transform would do, and
// this one is short and keeps no state.
#pragma once

#include <complex>
#include <cstddef>
#include <numbers>
#include <utility>

namespace am {

using Complex = std::complex<double>;

// a b, without the checks for infinite parts that std::complex's product
// makes (a call per product): the values here are finite.
inline Complex times(Complex a, Complex b) noexcept {
  const double re = a.real() * b.real() - a.imag() * b.imag();
  const double im = a.real() * b.imag() + a.imag() * b.real();
  return {re, im};
}

// twiddles[j] = e^(-2 pi i j / n) for j < n / 2.
inline void fft_twiddles(Complex* twiddles, std::size_t n) noexcept {
  for (std::size_t j = 0; j < n / 2; ++j) {
    twiddles[j] =
        std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>(j) / static_cast<double>(n));
  }
}

// In-place radix-2 FFT of x[0 .. n) (n a power of two): X_k = sum_j x_j
// e^(-2 pi i k j / n), or with +i when Inverse (not scaled by 1/n), from
// fft_twiddles(n). Indices count from 0.
template <bool Inverse>
void fft(Complex* x, std::size_t n, const Complex* twiddles) noexcept {
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; (j & bit) != 0; bit >>= 1) {
      j ^= bit;
    }
    j ^= bit;
    if (i < j) {
      std::swap(x[i], x[j]);
    }
  }
  // Butterflies block by block, so that each stage walks the array once.
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::size_t half = len / 2;
    const std::size_t stride = n / len;
    for (std::size_t s = 0; s < n; s += len) {
      for (std::size_t m = 0; m < half; ++m) {
        const Complex w = Inverse ? std::conj(twiddles[m * stride]) : twiddles[m * stride];
        const Complex u = x[s + m];
        const Complex v = times(x[s + m + half], w);
        x[s + m] = u + v;
        x[s + m + half] = u - v;
      }
    }
  }
}

}  // namespace am
