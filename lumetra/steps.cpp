// The 11 steps of the aligned recording: their layout, the level of each
// settled half, the spread of its 50 ms block levels, and the peak level.
// Positions count from 0.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

#include "lumetra/estimation.h"

namespace lumetra {
namespace {

// 20 log10(rms / 32767) of `count` samples from their sum of squares; an
// empty stretch gives 0 / 0, NaN.
double level_db(double sum_of_squares, std::int64_t count) noexcept {
  const double rms = std::sqrt(sum_of_squares / static_cast<double>(count));
  return 20.0 * std::log10(rms / kFullScale);
}

// Continues the sums of one settled half from `from` (a block boundary) to
// its end: the step sum over every remaining position, and each remaining
// whole block's sum, handed to the spread in block order. Positions past the
// recording samples are 0.0; adding their +0.0 squares would leave every
// sum as it is, so they are not visited.
void finish_settled(const Aligned& aligned, const Stretch& settled, std::int64_t blocks,
                    std::int64_t from, double& step_sum, BlockSpread& spread) noexcept {
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

void BlockSpread::add(double block_sum) noexcept {
  const double v = level_db(block_sum, kBlock);
  if (v < lo) {
    lo = v;
  }
  if (v > hi) {
    hi = v;
  }
}

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
    BlockSpread spread;
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

StepMeter::StepMeter(const StepLayout& layout, std::int64_t length,
                     const kernels::Table& kernels) noexcept
    : layout_(layout),
      length_(length),
      kernels_(&kernels),
      high_(-std::numeric_limits<double>::infinity()),
      first_(std::numeric_limits<double>::quiet_NaN()) {}

void StepMeter::feed(std::span<const double> chunk) noexcept {
  // The chunk holds aligned positions [begin, begin + n).
  const std::int64_t begin = position_;
  const std::int64_t n = std::min(static_cast<std::int64_t>(chunk.size()), length_ - begin);
  if (n <= 0) {
    return;
  }
  const double* x = chunk.data();
  if (begin == 0) {
    first_ = x[0];
  }
  // The largest sample: the maximum skipping NaN does not depend on how the
  // samples are cut into chunks (up to the sign of a zero, which the 1e-6 of
  // the peak level erases).
  high_ = kernels_->max_skip_nan(x, n, high_);
  if (high_ == -std::numeric_limits<double>::infinity() && !any_number_) {
    any_number_ = std::any_of(x, x + n, [](double v) { return !std::isnan(v); });
  }
  for (int k = 0; k < kSteps; ++k) {
    const Stretch& s = layout_.settled[k];
    // Offsets o (from the settled half's start) that this chunk holds.
    std::int64_t o = std::max(begin, s.first) - s.first;
    const std::int64_t end = std::min(begin + n, s.first + s.count) - s.first;
    const std::int64_t whole = layout_.blocks[k] * kBlock;
    Step& step = steps_[k];
    while (o < end) {
      const double* p = x + (s.first + o - begin);
      if (o < whole) {
        // step.block holds the squares of the current block up to offset o.
        const std::int64_t stop = std::min((o / kBlock + 1) * kBlock, end);
        for (; o < stop; ++o, ++p) {
          const double sq = *p * *p;
          step.sum += sq;
          step.block += sq;
        }
        if (o % kBlock == 0) {
          step.spread.add(step.block);
          step.block = 0.0;
        }
      } else {
        for (; o < end; ++o, ++p) {
          const double sq = *p * *p;
          step.sum += sq;
        }
      }
    }
  }
  position_ = begin + n;
}

Levels StepMeter::finish() const noexcept {
  Levels out{};
  for (int k = 0; k < kSteps; ++k) {
    const Stretch& s = layout_.settled[k];
    Step step = steps_[k];
    // The blocks not completed yet end in 0.0 positions, whose +0.0 squares
    // leave the sums as they are: the current one closes with its sum so
    // far, the ones after it with 0.0.
    const std::int64_t fed = std::clamp<std::int64_t>(position_ - s.first, 0, s.count);
    for (std::int64_t j = std::min(fed / kBlock, layout_.blocks[k]); j < layout_.blocks[k]; ++j) {
      step.spread.add(step.block);
      step.block = 0.0;
    }
    out.step_level[k] = level_db(step.sum, s.count);
    out.step_range[k] = step.spread.range(layout_.blocks[k]);
  }
  // As measure(): a 0.0 tail counts in the maximum; when every value is -Inf
  // or NaN the largest is -Inf if any is not NaN, else the first value.
  double high = high_;
  if (position_ < length_ && high < 0.0) {
    high = 0.0;
  }
  double largest = high;
  if (high == -std::numeric_limits<double>::infinity()) {
    largest = any_number_ ? high : first_;
  }
  out.peak_level = 20.0 * std::log10((largest + kLevelOffset) / kFullScale);
  return out;
}

}  // namespace lumetra
