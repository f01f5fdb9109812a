// The lag between two signals that should be sample-aligned (quenbar-snr's
// gate and measured signal), from the cross-correlation of their openings.
//
// Window: the first 4 s of both (at most 262144 samples, and no more than
// the shorter signal holds): long enough to hold several bursts of speech
// or music, short enough to cost a few milliseconds. Lags: up to 1 s either
// way (at most a quarter of the window), far beyond the latency of a sound
// card or a recording chain, which is what a lag of a gate behind its
// measured signal usually is. The correlation is computed by FFT (one
// complex transform of both real windows, an inverse one), in doubles; the
// lag is the integer argmax of its magnitude, so the transform's rounding
// does not matter.
#pragma once

#include <cstdint>
#include <span>

namespace cli {

struct Lag {
  std::int64_t samples = 0;  // d: measured[i + d] matches gate[i]; > 0 when measured is late
  std::int64_t window = 0;   // samples of each opening correlated
  std::int64_t max_lag = 0;  // lags -max_lag .. max_lag were tried
};

// The lag of `measured` behind `gate` at `rate` Hz. Of equally strong lags
// the one nearest 0 wins (0 first, then +1, -1, +2, ...), and 0 stands when
// the correlation is 0 everywhere (a silent opening). Non-finite samples
// count as 0.
// The samples of each signal's opening that the lag reads: the window
// before it is cut to the shorter signal. estimate_lag on the first
// lag_opening(rate) samples of each signal (or all, when shorter) gives the
// lag of the whole signals.
std::int64_t lag_opening(int rate);

Lag estimate_lag(std::span<const double> gate, std::span<const double> measured, int rate);

}  // namespace cli
