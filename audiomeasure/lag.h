// The lag between two signals that should be sample-aligned (an SNR
// measurement's gate and measured signal), from the cross-correlation of
// their openings.
//
// Window: the first 10 s of both (at most 524288 samples, and no more than
// the shorter signal holds): long enough to hold many bursts of speech or
// music. Lags: up to 5 s either way (at most half the window): beyond the
// latency of any recording chain, and enough for a measured file that was
// started a few seconds late. The correlation is computed by FFT (one
// complex transform of both real windows, an inverse one), in doubles; the
// lag is the integer argmax of its magnitude, so the transform's rounding
// does not matter.
//
// Whether the lag can be trusted: its peak must stand out. The largest
// magnitude more than 5 ms away from the peak is its strongest rival; the
// peak's prominence is its magnitude over the rival's, and the lag is
// reliable when that is at least 3. Weighted by the phase transform, the
// correlation of two recordings of one signal peaks 7 to 100 times above
// its rivals (2 s of speech or more, at 0 to 40 dB SNR); of unrelated
// signals, or of a lag beyond the search, 1.0 to 1.3 times. A silent
// opening gives no peak at all.
#pragma once

#include <cstdint>
#include <span>

namespace am {

struct Lag {
  std::int64_t samples = 0;  // d: measured[i + d] matches gate[i]; > 0 when measured is late
  std::int64_t window = 0;   // samples of each opening correlated
  std::int64_t max_lag = 0;  // lags -max_lag .. max_lag were tried
  double prominence = 0.0;   // the peak over its strongest rival; NaN for no peak at all
  bool reliable = false;
};

// The samples of each signal's opening that the lag reads at fs Hz: the
// window before it is cut to the shorter signal. estimate_lag on the first
// lag_opening(fs) samples of each signal (or all, when shorter) gives the
// lag of the whole signals.
std::int64_t lag_opening(double fs) noexcept;

// The lag of `measured` behind `gate` at fs Hz. Of equally strong lags the
// one nearest 0 wins (0 first, then +1, -1, +2, ...), and 0 stands when the
// correlation is 0 everywhere (a silent opening). Non-finite samples count
// as 0. False when its working memory cannot be had.
bool estimate_lag(std::span<const double> gate, std::span<const double> measured, double fs,
                  Lag& lag) noexcept;

}  // namespace am
