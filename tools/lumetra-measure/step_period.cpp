#include "lumetra-measure/step_period.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "common/report_text.h"
#include "lumetra/estimation.h"

namespace cli {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kJudged = lumetra::kSteps - 1;  // steps 1 to 10; step 11 runs to the end

constexpr double kPeriods[2] = {lumetra::kLongStep, lumetra::kShortStep};

// The steps of `period` over a reference of `length` samples, each judged
// from its start to its end less the guard at both ends: the stretches
// StepMeter measures in place of the settled halves.
lumetra::StepLayout guarded_layout(double period, std::int64_t length) {
  lumetra::StepLayout whole = lumetra::step_layout(period, length);
  for (int k = 0; k < lumetra::kSteps; ++k) {
    const lumetra::Stretch s = whole.step[k];
    const std::int64_t count = std::max<std::int64_t>(s.count - 2 * kStepGuard, 0);
    whole.settled[k] = {s.first + std::min(kStepGuard, s.count), count};
    whole.blocks[k] = count / lumetra::kBlock;
  }
  return whole;
}

// The median of the spreads of steps 1 to 10.
double median_step_spread(const lumetra::Levels& levels) {
  double spread[kJudged];
  for (int k = 0; k < kJudged; ++k) {
    // A spread is never NaN (a NaN block level moves neither end); be sure.
    const double v = levels.step_range[k];
    spread[k] = std::isnan(v) ? std::numeric_limits<double>::infinity() : v;
  }
  std::sort(spread, spread + kJudged);
  return (spread[kJudged / 2 - 1] + spread[kJudged / 2]) / 2.0;
}

}  // namespace

StepPeriodStream::StepPeriodStream(std::int64_t length)
    : length_(length),
      meters_{lumetra::StepMeter(guarded_layout(kPeriods[0], length), length),
              lumetra::StepMeter(guarded_layout(kPeriods[1], length), length)} {}

void StepPeriodStream::feed(std::span<const double> chunk) {
  for (lumetra::StepMeter& m : meters_) {
    m.feed(chunk);
  }
}

StepPeriodCheck StepPeriodStream::finish() const {
  StepPeriodCheck c;
  for (int i = 0; i < 2; ++i) {
    LayoutFit& f = c.layouts[i];
    f.period = kPeriods[i];
    f.held = length_ >= lumetra::required_reference_length(f.period);
    f.median_spread_db = f.held ? median_step_spread(meters_[i].finish()) : kNaN;
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

StepPeriodCheck check_step_period(std::span<const double> reference) {
  StepPeriodStream stream(static_cast<std::int64_t>(reference.size()));
  stream.feed(reference);
  return stream.finish();
}

std::string step_spread_text(const StepPeriodCheck& c) {
  std::string s = "median step spread ";
  for (int i = 0; i < 2; ++i) {
    const LayoutFit& f = c.layouts[i];
    char b[80];
    if (f.held) {
      std::snprintf(b, sizeof(b), "%s%s dB at %.1f s", i == 0 ? "" : ", ",
                    number_text(f.median_spread_db).c_str(), f.period);
    } else {
      std::snprintf(b, sizeof(b), "%stoo short for %.1f s", i == 0 ? "" : ", ", f.period);
    }
    s += b;
  }
  return s;
}

}  // namespace cli
