// The 11 steps of the aligned recording: their layout, the level of each
// settled half, the spread of its 50 ms block levels, and the peak level.
// Positions count from 0.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "lumetra/estimation.h"

namespace lumetra {
namespace {

// 20 log10(rms / 32767) of `count` samples from their sum of squares; an
// empty stretch gives 0 / 0, NaN.
double level_db(double sum_of_squares, std::int64_t count) noexcept {
  const double rms = std::sqrt(sum_of_squares / static_cast<double>(count));
  return 20.0 * std::log10(rms / kFullScale);
}

// Lowest and highest block level of one settled half, in block order. A NaN
// level changes neither; without any block the spread is the floor.
class Spread {
 public:
  void add(double block_sum) noexcept {
    const double v = level_db(block_sum, kBlock);
    if (v < lo_) {
      lo_ = v;
    }
    if (v > hi_) {
      hi_ = v;
    }
  }
  double range(std::int64_t blocks) const noexcept { return blocks < 1 ? kFloorDb : hi_ - lo_; }

 private:
  double lo_ = kRangeLowStart;
  double hi_ = kFloorDb;
};

// Continues the sums of one settled half from `from` (a block boundary) to
// its end: the step sum over every remaining position, and each remaining
// whole block's sum, handed to the spread in block order. Positions past the
// recording samples are 0.0; adding their +0.0 squares would leave every
// sum as it is, so they are not visited.
void finish_settled(const Aligned& aligned, const Stretch& settled, std::int64_t blocks,
                    std::int64_t from, double& step_sum, Spread& spread) noexcept {
  const std::int64_t held =
      std::clamp<std::int64_t>(aligned.valid - settled.first, 0, settled.count);
  const double* x = held > 0 ? aligned.data + settled.first : nullptr;
  std::int64_t o = from;
  for (std::int64_t j = from / kBlock; j < blocks; ++j) {
    const std::int64_t end = std::min((j + 1) * kBlock, held);
    // block holds the squares of block j up to offset o, left to right.
    double block = 0.0;
    for (; o < end; ++o) {
      const double sq = x[o] * x[o];
      step_sum += sq;
      block += sq;
    }
    o = (j + 1) * kBlock;
    spread.add(block);
  }
  for (o = std::max(o, blocks * kBlock); o < held; ++o) {
    const double sq = x[o] * x[o];
    step_sum += sq;
  }
}

}  // namespace

double step_period(double stepMode) noexcept {
  return stepMode == 0.0 ? kLongStep : kShortStep;
}

std::int64_t step_boundary(double period, int k) noexcept {
  const double product = (static_cast<double>(k) * period) * kRate;
  return static_cast<std::int64_t>(std::floor(product));
}

std::int64_t required_reference_length(double period) noexcept {
  return std::max<std::int64_t>(kSpan + 1, kSpan + step_boundary(period, kSteps - 1));
}

StepLayout step_layout(double period, std::int64_t length) noexcept {
  StepLayout layout{};
  for (int k = 0; k < kSteps; ++k) {
    const std::int64_t a = step_boundary(period, k);
    const std::int64_t first = kSpan + a;
    std::int64_t count = 0;
    if (k < kSteps - 1) {
      count = std::max<std::int64_t>(step_boundary(period, k + 1) - a, 0);
    } else {
      count = std::max<std::int64_t>(length - first, 0);
    }
    layout.step[k] = {first, count};
    // The settled half starts at the 1-based offset h = floor(L / 2 + 1).
    const auto h = static_cast<std::int64_t>(std::floor(static_cast<double>(count) * 0.5 + 1.0));
    const std::int64_t settled = count >= h ? count - h + 1 : 0;
    layout.settled[k] = {first + count - settled, settled};
    layout.blocks[k] = settled / kBlock;
  }
  return layout;
}

Levels measure(const Aligned& aligned, const StepLayout& layout,
               const kernels::Table& kernels) noexcept {
  // Steps 1 to 10 run side by side, one lane each, over the whole blocks
  // that all of them hold in recording samples; lanes past the tenth repeat
  // the first and are ignored.
  constexpr int kLaneSteps = kSteps - 1;
  constexpr int kMaxLanes = 12;  // ten steps, rounded up to whole vectors of four
  const int lanes =
      (kLaneSteps + kernels.lane_multiple - 1) / kernels.lane_multiple * kernels.lane_multiple;
  std::int64_t common = kMaxBlocks;
  for (int k = 0; k < kLaneSteps; ++k) {
    const Stretch& s = layout.settled[k];
    const std::int64_t held = std::clamp<std::int64_t>(aligned.valid - s.first, 0, s.count);
    common = std::min({common, layout.blocks[k], held / kBlock});
  }
  const double* lane[kMaxLanes];
  double step_sum[kMaxLanes] = {};
  double block_sums[kMaxLanes * kMaxBlocks];
  double high = -std::numeric_limits<double>::infinity();
  if (common > 0) {
    for (int l = 0; l < lanes; ++l) {
      lane[l] = aligned.data + layout.settled[l < kLaneSteps ? l : 0].first;
    }
    kernels.step_lanes(lane, lanes, common, step_sum, block_sums, kMaxBlocks, &high);
  }

  Levels out{};
  for (int k = 0; k < kSteps; ++k) {
    const Stretch& s = layout.settled[k];
    Spread spread;
    double sum = 0.0;
    std::int64_t from = 0;
    if (k < kLaneSteps) {
      sum = step_sum[k];
      for (std::int64_t j = 0; j < common; ++j) {
        spread.add(block_sums[k * kMaxBlocks + j]);
      }
      from = common * kBlock;
    }
    finish_settled(aligned, s, layout.blocks[k], from, sum, spread);
    out.step_level[k] = level_db(sum, s.count);
    out.step_range[k] = spread.range(layout.blocks[k]);
  }

  // The largest sample. The lanes have seen [first, first + common * 2400)
  // of each of steps 1 to 10; the rest of the recording samples is read
  // here. The maximum of the values skipping NaN is what a first-to-last
  // scan keeps (up to the sign of a zero, which the 1e-6 below erases).
  std::int64_t pos = 0;
  for (int k = 0; k < kLaneSteps && common > 0; ++k) {
    const std::int64_t gap = layout.settled[k].first - pos;
    if (gap > 0) {
      high = kernels.max_skip_nan(aligned.data + pos, gap, high);
    }
    pos = layout.settled[k].first + common * kBlock;
  }
  if (aligned.valid > pos) {
    high = kernels.max_skip_nan(aligned.data + pos, aligned.valid - pos, high);
  }
  if (aligned.valid < aligned.length && high < 0.0) {
    high = 0.0;
  }
  double largest = high;
  if (high == -std::numeric_limits<double>::infinity()) {
    // Every value is -Inf or NaN: -Inf if any value is not NaN, else the
    // first value (all are NaN then, with no 0.0 tail).
    const double* end = aligned.data + aligned.valid;
    const bool any = std::any_of(aligned.data, end, [](double v) { return !std::isnan(v); });
    largest = any ? high : aligned.data[0];
  }
  out.peak_level = 20.0 * std::log10((largest + kLevelOffset) / kFullScale);
  return out;
}

}  // namespace lumetra
