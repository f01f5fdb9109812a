// The conversion that undoes a clock drift: a recording whose clock ran
// `speed` times the reference's (speed = 1 + drift_ppm / 1e6) is read
// again at the positions m / speed, m = 0, 1, ..., so that its content
// keeps pace with the reference from its first sample on.
//
// Band-limited interpolation: a Kaiser-windowed sinc of 2 kHalfTaps taps
// (beta 9), tabulated at kPhases fractional positions and interpolated
// linearly between them. A drift moves the rate by parts per million, so
// no band is lost: the sinc's own cut-off, at the Nyquist frequency, is
// what keeps the converted signal clean (better than -90 dB up to 0.85 of
// the Nyquist frequency). Positions before the first sample or after the
// last count as 0.0.
#pragma once

#include <cstdint>

#include "runtime/buffer.h"

namespace am {

// out = x read at m / speed for every m whose position lies inside x
// (round-down((n - 1) * speed) + 1 samples). False when the memory cannot
// be had or speed is not a positive finite number near 1 (within 1 %).
bool convert_by_speed(const double* x, std::int64_t n, double speed,
                      runtime::Buffer<double>& out) noexcept;

}  // namespace am
