#include "audiomeasure/step_period.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace am {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kJudged = lumetra::kSteps - 1;  // steps 1 to 10; step 11 runs to the end

// The median of the spreads of steps 1 to 10.
double median_step_spread(const lumetra::Levels& levels) noexcept {
  double spread[kJudged];
  for (int k = 0; k < kJudged; ++k) {
    // A spread is never NaN (a NaN block level moves neither end); be sure.
    const double v = levels.step_range[k];
    spread[k] = std::isnan(v) ? std::numeric_limits<double>::infinity() : v;
  }
  std::sort(spread, spread + kJudged);
  return (spread[kJudged / 2 - 1] + spread[kJudged / 2]) / 2.0;
}

// The check from each layout's measurement over the guarded steps (ignored
// for a layout the reference does not hold).
PeriodCheck judge(std::int64_t length, const lumetra::Levels (&levels)[2]) noexcept {
  PeriodCheck c;
  for (int i = 0; i < 2; ++i) {
    LayoutFit& f = c.layouts[i];
    f.period = kPeriods[i];
    f.held = length >= lumetra::required_reference_length(f.period);
    f.median_spread_db = f.held ? median_step_spread(levels[i]) : kNaN;
  }
  c.fitting = kNaN;
  for (int i = 0; i < 2; ++i) {
    const LayoutFit& f = c.layouts[i];
    const LayoutFit& other = c.layouts[1 - i];
    if (f.held && f.median_spread_db <= kSteadyDb &&
        (!other.held || other.median_spread_db >= kUnsteadyDb)) {
      c.fitting = f.period;
    }
  }
  return c;
}

}  // namespace

lumetra::StepLayout guarded_layout(double period, std::int64_t length) noexcept {
  lumetra::StepLayout whole = lumetra::step_layout(period, length);
  for (int k = 0; k < lumetra::kSteps; ++k) {
    const lumetra::Stretch s = whole.step[k];
    const std::int64_t count = std::max<std::int64_t>(s.count - 2 * kStepGuard, 0);
    whole.settled[k] = {s.first + std::min(kStepGuard, s.count), count};
    whole.blocks[k] = count / lumetra::kBlock;
  }
  return whole;
}

PeriodStream::PeriodStream(std::int64_t length) noexcept
    : length_(length),
      meters_{lumetra::StepMeter(guarded_layout(kPeriods[0], length), length),
              lumetra::StepMeter(guarded_layout(kPeriods[1], length), length)} {}

void PeriodStream::feed(std::span<const double> chunk) noexcept {
  for (lumetra::StepMeter& m : meters_) {
    m.feed(chunk);
  }
}

PeriodCheck PeriodStream::finish() const noexcept {
  const lumetra::Levels levels[2] = {meters_[0].finish(), meters_[1].finish()};
  return judge(length_, levels);
}

PeriodCheck check_step_period(std::span<const double> reference) noexcept {
  // The whole-array measurement of the guarded steps: the streaming
  // meters' bits, with the steps side by side in vector lanes.
  const auto n = static_cast<std::int64_t>(reference.size());
  const lumetra::Aligned whole{reference.data(), n, n};
  lumetra::Levels levels[2];
  for (int i = 0; i < 2; ++i) {
    if (n >= lumetra::required_reference_length(kPeriods[i])) {
      levels[i] = lumetra::measure(whole, guarded_layout(kPeriods[i], n));
    }
  }
  return judge(n, levels);
}

PeriodChoice choose_period(int option, const PeriodCheck& c) noexcept {
  PeriodChoice p;
  const bool fits = !std::isnan(c.fitting);
  if (option == AM_PERIOD_25_2 || option == AM_PERIOD_24_7) {
    p.period = option;
    p.source = AM_PERIOD_SOURCE_OPTION;
  } else {
    p.source = AM_PERIOD_SOURCE_AUTO;
    if (fits) {
      p.period = c.fitting == lumetra::kLongStep ? AM_PERIOD_25_2 : AM_PERIOD_24_7;
    } else {
      p.period = c.layouts[0].held ? AM_PERIOD_25_2 : AM_PERIOD_24_7;
    }
  }
  p.step_mode = p.period == AM_PERIOD_25_2 ? 0.0 : 1.0;
  p.seconds = lumetra::step_period(p.step_mode);
  if (!fits && p.source == AM_PERIOD_SOURCE_AUTO) {
    p.warning = AM_PERIOD_WARNING_NO_CLEAR_FIT;
  } else if (fits && c.fitting != p.seconds) {
    p.warning = AM_PERIOD_WARNING_CONTRADICTED;
  }
  return p;
}

}  // namespace am
