// Which of the two step layouts a reference was made with, read from the
// reference itself: lumetra-measure's --step-period auto.
//
// A stimulus step is one steady signal (a tone at one level), so under its
// own layout every step's 50 ms block levels agree; under the other layout
// the steps straddle neighbouring steps, 0.5 s more for each step (the two
// periods differ by 0.5 s), and their block levels spread by the level
// difference of the neighbours. The settled halves alone do not tell: the
// settled half of step k under 24.7 s ends earlier than step k under 25.2 s
// and begins later than it, so a 25.2 s stimulus is as steady there under
// both layouts. The whole step tells both ways, so each step is judged from
// its first to its last whole block, less a guard of 0.1 s at either end
// (fades or onsets of a stimulus step are no sign of a wrong layout).
//
// A layout's figure is the median of the steps 1 to 10 spreads (the mean of
// the 5th and 6th smallest): one odd step neither makes nor breaks a
// layout, while a wrong layout moves 9 or 10 of them. It fits when the
// median is at most kSteadyDb; it is chosen when it is the one layout the
// reference holds that fits and every other layout the reference holds
// spreads by at least kUnsteadyDb. On the demonstration stimulus the right
// layout gives 0 dB (its tones repeat whole in every block) and the wrong
// one 7.5 dB (25.2 s stimulus under 24.7 s) or 12 dB (24.7 s under 25.2 s).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "lumetra/estimation.h"

namespace cli {

inline constexpr double kSteadyDb = 1.0;          // largest median spread of a fitting layout
inline constexpr double kUnsteadyDb = 3.0;        // smallest median spread of a layout ruled out
inline constexpr std::int64_t kStepGuard = 4800;  // 0.1 s left out at each end of a step

// One layout judged on a reference.
struct LayoutFit {
  double period = 0.0;            // 25.2 or 24.7 s
  bool held = false;              // the reference holds the opening and its 10 whole steps
  double median_spread_db = 0.0;  // NaN when not held
};

struct StepPeriodCheck {
  LayoutFit layouts[2];  // 25.2 s, then 24.7 s
  double fitting = 0.0;  // the period chosen by the rule above, or NaN when none is
};

// Judges both layouts on the reference's samples (16-bit scale).
StepPeriodCheck check_step_period(std::span<const double> reference);

// check_step_period in a streaming form: told the reference's length, fed
// its samples in order, in chunks of any size, finish() gives
// check_step_period's result on the whole array to the last bit. Memory is
// fixed, whatever the length; samples not fed by finish() count as 0.0.
class StepPeriodStream {
 public:
  explicit StepPeriodStream(std::int64_t length);
  void feed(std::span<const double> chunk);
  StepPeriodCheck finish() const;

 private:
  std::int64_t length_;
  lumetra::StepMeter meters_[2];  // the guarded steps under 25.2 s, then 24.7 s
};

// "median step spread 0.000 dB at 25.2 s, 7.500 dB at 24.7 s" (a layout the
// reference cannot hold: "too short for 25.2 s").
std::string step_spread_text(const StepPeriodCheck& c);

}  // namespace cli
