// Which of the two step layouts a reference was made with, read from the
// reference itself: the step period "auto".
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

#include "audiomeasure.h"
#include "lumetra/estimation.h"

namespace am {

inline constexpr double kSteadyDb = AM_PERIOD_STEADY_DB;
inline constexpr double kUnsteadyDb = AM_PERIOD_UNSTEADY_DB;
inline constexpr std::int64_t kStepGuard = AM_PERIOD_GUARD;  // 0.1 s at 48000 Hz
static_assert(kStepGuard * 10 == lumetra::kRateHz);

// The two periods, in the order the reports keep them: 25.2 s, 24.7 s.
inline constexpr double kPeriods[2] = {lumetra::kLongStep, lumetra::kShortStep};

// One layout judged on a reference.
struct LayoutFit {
  double period = 0.0;            // 25.2 or 24.7 s
  bool held = false;              // the reference holds the opening and its 10 whole steps
  double median_spread_db = 0.0;  // NaN when not held
};

struct PeriodCheck {
  LayoutFit layouts[2];  // 25.2 s, then 24.7 s
  double fitting = 0.0;  // the period chosen by the rule above, or NaN when none is
};

// The steps of `period` over a reference of `length` samples, each judged
// from its start to its end less the guard at both ends: the stretches
// measured in place of the settled halves.
lumetra::StepLayout guarded_layout(double period, std::int64_t length) noexcept;

// Judges both layouts on the reference's samples.
PeriodCheck check_step_period(std::span<const double> reference) noexcept;

// check_step_period in a streaming form: told the reference's length, fed
// its samples in order, in chunks of any size, finish() gives
// check_step_period's result on the whole array to the last bit. Memory is
// fixed, whatever the length; samples not fed by finish() count as 0.0.
class PeriodStream {
 public:
  explicit PeriodStream(std::int64_t length) noexcept;
  void feed(std::span<const double> chunk) noexcept;
  PeriodCheck finish() const noexcept;

 private:
  std::int64_t length_;
  lumetra::StepMeter meters_[2];  // the guarded steps under 25.2 s, then 24.7 s
};

// The period measured, how it was chosen and the warning, from the option
// (AM_PERIOD_*) and the check.
struct PeriodChoice {
  int period = AM_PERIOD_25_2;  // AM_PERIOD_25_2 or AM_PERIOD_24_7
  double step_mode = 0.0;       // lumetra's stepMode: 0.0 for 25.2 s, 1.0 for 24.7 s
  double seconds = lumetra::kLongStep;
  int source = AM_PERIOD_SOURCE_OPTION;
  int warning = AM_PERIOD_WARNING_NONE;
};

// The option's period when it gives one; else the one that fits, or, when
// none fits clearly, 25.2 s (24.7 s when the reference holds only that),
// with a warning. A period given that the reference contradicts (the other
// fits) is measured as given, with a warning.
PeriodChoice choose_period(int option, const PeriodCheck& check) noexcept;

}  // namespace am
