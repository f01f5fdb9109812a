// Step layout, step and block levels, the peak level, the correlation peak
// search and the trust ratio, each through the internal layer. The fast
// paths (every kernel table) are proven bit-identical to the straightforward
// path on the stepped stimulus and on adversarial variants of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <span>
#include <tuple>
#include <vector>

#include "lumetra.h"
#include "lumetra/estimation.h"
#include "lumetra/kernels.h"
#include "stimulus.h"
#include "support/lumetra_straight.h"
#include "support/records.h"

namespace {

using lumetra::kBlock;
using lumetra::kLags;
using lumetra::kSpan;
using lumetra::kSteps;
using namespace testing_support;

const std::vector<const lumetra::kernels::Table*> kTables =
    testing_support::runnable(lumetra::kernels::for_isa);

TEST(StepLayout, PeriodFollowsStepMode) {
  EXPECT_EQ(lumetra::step_period(0.0), 25.2);
  EXPECT_EQ(lumetra::step_period(-0.0), 25.2);
  EXPECT_EQ(lumetra::step_period(1.0), 24.7);
  EXPECT_EQ(lumetra::step_period(-1.0), 24.7);
  EXPECT_EQ(lumetra::step_period(kNaN), 24.7);
  EXPECT_EQ(lumetra::required_reference_length(25.2), 12816000);
  EXPECT_EQ(lumetra::required_reference_length(24.7), 12576000);
}

TEST(StepLayout, StepsThreeAndSixEndOneSampleEarly) {
  for (const auto& [period, nominal, blocks] :
       {std::tuple{25.2, std::int64_t{1209600}, std::int64_t{252}},
        std::tuple{24.7, std::int64_t{1185600}, std::int64_t{247}}}) {
    const std::int64_t n = lumetra::required_reference_length(period);
    const lumetra::StepLayout layout = lumetra::step_layout(period, n);
    EXPECT_EQ(layout.step[0].first, kSpan);
    for (int k = 0; k < kSteps - 1; ++k) {
      const std::int64_t shift = (k == 2 || k == 5) ? -1 : (k == 3 || k == 6) ? 1 : 0;
      EXPECT_EQ(layout.step[k].count, nominal + shift) << period << " step " << k + 1;
      EXPECT_EQ(layout.step[k + 1].first, layout.step[k].first + layout.step[k].count);
      const lumetra::Stretch& s = layout.settled[k];
      EXPECT_EQ(s.count, (layout.step[k].count + 1) / 2);
      EXPECT_EQ(s.first + s.count, layout.step[k].first + layout.step[k].count);
      EXPECT_EQ(layout.blocks[k], blocks) << period << " step " << k + 1;
    }
    EXPECT_EQ(layout.step[9].first + layout.step[9].count, n);
    // A reference that ends with step 10 has an empty step 11.
    EXPECT_EQ(layout.step[10].count, 0);
    EXPECT_EQ(layout.settled[10].count, 0);
    EXPECT_EQ(layout.blocks[10], 0);
    // Longer references give step 11 the rest; odd lengths settle on the
    // later half, the middle sample included.
    const lumetra::StepLayout longer = lumetra::step_layout(period, n + 4801);
    EXPECT_EQ(longer.step[10].count, 4801);
    EXPECT_EQ(longer.settled[10].count, 2401);
    EXPECT_EQ(longer.settled[10].first, n + 2400);
    EXPECT_EQ(longer.blocks[10], 1);
  }
}

// The stepped stimulus, made once for this test program.
const std::vector<double>& stimulus_signal() {
  static const std::vector<double> x = stimulus::stepped_reference({});
  return x;
}

lumetra::Levels straight_levels(const std::vector<double>& data, std::int64_t valid,
                                std::int64_t length, double period) {
  emxArray_real_T* aligned = emxCreate_real_T(static_cast<std::int32_t>(length), 1);
  for (std::int64_t i = 0; i < valid; ++i) {
    aligned->data[i] = data[static_cast<std::size_t>(i)];
  }
  const lumetra::Levels levels = straight::measure(aligned, period);
  emxDestroyArray_real_T(aligned);
  return levels;
}

void expect_same_levels(const lumetra::Levels& a, const lumetra::Levels& b, const char* what) {
  for (int k = 0; k < kSteps; ++k) {
    EXPECT_EQ(bits(a.step_level[k]), bits(b.step_level[k])) << what << " level " << k + 1;
    EXPECT_EQ(bits(a.step_range[k]), bits(b.step_range[k])) << what << " range " << k + 1;
  }
  EXPECT_EQ(bits(a.peak_level), bits(b.peak_level)) << what << " peak";
}

// Measures data[0 .. valid) followed by zeros up to length with every kernel
// table, proves each bit-identical to the straightforward path, and returns
// the result.
lumetra::Levels measure_all(const std::vector<double>& data, std::int64_t valid,
                            std::int64_t length, double period, const char* what) {
  const lumetra::Levels want = straight_levels(data, valid, length, period);
  const lumetra::StepLayout layout = lumetra::step_layout(period, length);
  const lumetra::Aligned aligned{valid > 0 ? data.data() : nullptr, length, valid};
  for (const lumetra::kernels::Table* t : kTables) {
    const lumetra::Levels got = lumetra::measure(aligned, layout, *t);
    expect_same_levels(got, want, what);
  }
  // The streaming form, fed data[0 .. valid) in chunks of several sizes
  // (whole, block-sized, prime, and one that ends mid-block), the zero tail
  // left unfed.
  const std::int64_t chunkings[] = {valid, 2400, 7919, 1000003};
  for (const std::int64_t chunk : chunkings) {
    lumetra::StepMeter meter(layout, length);
    for (std::int64_t p = 0; p < valid; p += chunk) {
      const std::int64_t n = std::min(chunk, valid - p);
      meter.feed({data.data() + p, static_cast<std::size_t>(n)});
    }
    EXPECT_EQ(meter.position(), valid) << what;
    expect_same_levels(meter.finish(), want, what);
  }
  return want;
}

TEST(Measure, StimulusStepsMeasureTheirDesignedLevels) {
  const auto& x = stimulus_signal();
  const auto n = static_cast<std::int64_t>(x.size());
  const lumetra::Levels l = measure_all(x, n, n, 25.2, "stimulus");
  const stimulus::Stepped design;
  for (int k = 0; k < kSteps; ++k) {
    // Whole tone periods in every block: the levels are the design's, up to
    // rounding and one extra sample in steps 4 and 7.
    EXPECT_NEAR(l.step_level[k], design.level_db[k], 1e-4) << "step " << k + 1;
    EXPECT_GE(l.step_range[k], 0.0);
    EXPECT_LT(l.step_range[k], 1e-9) << "step " << k + 1;
  }
  // The largest sample is in the loudest step, a tone of peak sqrt(2) * RMS.
  EXPECT_NEAR(l.peak_level, -6.0 + 20.0 * std::log10(std::sqrt(2.0)), 1e-3);
  // The same signal measured with 24.7 s steps.
  measure_all(x, n, n, 24.7, "stimulus, 24.7 s steps");
}

TEST(Measure, NonFiniteSamplesAndSilentBlocksMatchTheStraightforwardPath) {
  auto x = stimulus_signal();
  const auto n = static_cast<std::int64_t>(x.size());
  const lumetra::StepLayout layout = lumetra::step_layout(25.2, n);
  auto at = [&](int step, std::int64_t offset) -> double& {
    return x[static_cast<std::size_t>(layout.settled[step].first + offset)];
  };
  at(0, 0) = kNaN;                            // first settled sample
  at(1, layout.settled[1].count - 1) = kNaN;  // last settled sample
  at(2, 2400 * 17) = kNaN;                    // first sample of a block
  at(3, layout.settled[3].count - 1) = kInf;  // the trailing sample of step 4
  at(4, 2400 * 100 + 5) = kInf;               // inside a block
  at(5, 2400 * 3 + 1) = -kInf;
  for (int i = 0; i < kBlock; ++i) {
    at(6, 2400 * 250 + i) = 0.0;  // a silent block: -Inf
  }
  x[static_cast<std::size_t>(layout.step[7].first + 10)] = kNaN;  // unsettled half
  x[0] = kNaN;
  const lumetra::Levels l = measure_all(x, n, n, 25.2, "non-finite");
  EXPECT_TRUE(std::isnan(l.step_level[0]));
  EXPECT_TRUE(std::isnan(l.step_level[1]));
  EXPECT_TRUE(std::isnan(l.step_level[2]));
  EXPECT_EQ(l.step_level[3], kInf);
  EXPECT_LT(l.step_range[3], 1e-9);  // the trailing sample is in no block
  EXPECT_EQ(l.step_level[4], kInf);
  EXPECT_EQ(l.step_range[4], kInf);
  EXPECT_EQ(l.step_level[5], kInf);  // (-Inf)^2
  EXPECT_EQ(l.step_range[6], kInf);  // lo falls to -Inf
  EXPECT_FALSE(std::isnan(l.step_level[7]));
  EXPECT_EQ(l.peak_level, kInf);
}

TEST(Measure, ZeroTailsAndSilenceMatchTheStraightforwardPath) {
  const auto& x = stimulus_signal();
  const auto n = static_cast<std::int64_t>(x.size());
  const lumetra::StepLayout layout = lumetra::step_layout(25.2, n);
  const std::int64_t cuts[] = {
      layout.settled[4].first + 2400 * 30 + 77,           // inside a block of step 5
      layout.settled[8].first + 2400 * 12,                // at a block boundary of step 9
      layout.settled[9].first + layout.settled[9].count,  // just after step 10's settled half
      layout.step[0].first - 5,                           // before step 1
      n - 1,
  };
  for (const std::int64_t cut : cuts) {
    const lumetra::Levels l = measure_all(x, cut, n, 25.2, "zero tail");
    for (int k = 0; k < kSteps; ++k) {
      if (layout.settled[k].first >= cut && layout.settled[k].count > 0) {
        EXPECT_EQ(l.step_level[k], -kInf) << "cut " << cut << " step " << k + 1;
        EXPECT_EQ(l.step_range[k], kInf) << "cut " << cut << " step " << k + 1;
      }
    }
  }
  // Nothing aligned: every step silent, the peak level that of 1e-6.
  const lumetra::Levels silent = measure_all(x, 0, n, 25.2, "silence");
  for (int k = 0; k < kSteps; ++k) {
    EXPECT_EQ(silent.step_level[k], -kInf);
    EXPECT_EQ(silent.step_range[k], kInf);
  }
  EXPECT_EQ(bits(silent.peak_level), bits(20.0 * std::log10(1e-6 / 32767.0)));
  EXPECT_NEAR(silent.peak_level, -210.3087, 1e-4);
  // With step 11 empty, silence leaves it NaN and -120.
  const std::int64_t ten = lumetra::required_reference_length(25.2);
  const lumetra::Levels short_silent = measure_all(x, 0, ten, 25.2, "silence, ten steps");
  EXPECT_TRUE(std::isnan(short_silent.step_level[10]));
  EXPECT_EQ(short_silent.step_range[10], -120.0);
}

TEST(Measure, PeakLevelIsSignedAndNaNAware) {
  const std::int64_t n = lumetra::required_reference_length(24.7);
  std::vector<double> x(static_cast<std::size_t>(n), -5.0);
  x[1000] = -4.0;
  // The largest sample is negative: log10 of a negative number.
  EXPECT_TRUE(std::isnan(measure_all(x, n, n, 24.7, "negative").peak_level));
  // A zero tail joins the comparison: the largest sample is then 0.0.
  EXPECT_EQ(bits(measure_all(x, n - 3, n, 24.7, "negative, zero tail").peak_level),
            bits(20.0 * std::log10(1e-6 / 32767.0)));
  // All NaN: the first NaN is the largest; -Inf and NaN: -Inf.
  std::vector<double> nans(static_cast<std::size_t>(n), kNaN);
  nans[0] = std::bit_cast<double>(0x7FF8000000000123u);
  const lumetra::Levels all_nan = measure_all(nans, n, n, 24.7, "all NaN");
  EXPECT_TRUE(std::isnan(all_nan.peak_level));
  EXPECT_EQ(all_nan.step_range[0], -120.0);  // no block level: hi -120, lo 0
  // -Inf among NaN is the largest; its level is log10(-Inf), NaN, with other
  // bits than the first NaN's (the comparison with the straightforward path
  // tells them apart).
  nans[static_cast<std::size_t>(n / 2)] = -kInf;
  EXPECT_TRUE(std::isnan(measure_all(nans, n, n, 24.7, "NaN and -Inf").peak_level));
}

TEST(Measure, LongStepElevenRunsToTheEnd) {
  auto x = stimulus_signal();
  const std::size_t end = x.size();
  x.resize(end + 1300017);
  for (std::size_t i = end; i < x.size(); ++i) {
    x[i] = (i % 3 == 0 ? -100.0 : 60.0) * static_cast<double>((i / 5000) % 5 + 1);
  }
  const auto n = static_cast<std::int64_t>(x.size());
  const lumetra::Levels l = measure_all(x, n, n, 25.2, "long step 11");
  EXPECT_GT(l.step_range[10], 0.0);
  measure_all(x, n - 600000, n, 24.7, "long step 11, 24.7 s, zero tail");
}

// Magnitudes for the peak search, every one equal to fill.
std::vector<double> magnitudes(double fill) {
  return std::vector<double>(kLags, fill);
}

lumetra::Peak peak_of(const std::vector<double>& m) {
  const lumetra::Peak want = straight::find_peak(m.data());
  for (const lumetra::kernels::Table* t : kTables) {
    const lumetra::Peak got =
        lumetra::find_peak(std::span<const double, kLags>(m.data(), kLags), *t);
    EXPECT_EQ(got.index, want.index) << runtime::isa_name(t->isa);
    EXPECT_EQ(bits(got.value), bits(want.value)) << runtime::isa_name(t->isa);
  }
  return want;
}

TEST(FindPeak, FirstOfEqualMaximaWinsAndNaNNeverDoes) {
  auto m = magnitudes(1.0);
  m[5000] = 7.0;
  m[900000] = 7.0;
  m[1439998] = 7.0;
  EXPECT_EQ(peak_of(m).index, 5001);

  m[0] = kNaN;
  m[1] = kNaN;
  m[4000] = kNaN;
  m[6000] = 7.5;
  const lumetra::Peak p = peak_of(m);
  EXPECT_EQ(p.index, 6001);
  EXPECT_EQ(p.value, 7.5);

  // NaN first, then values below the first non-NaN one.
  auto first = magnitudes(kNaN);
  first[10] = 3.0;
  for (int j = 11; j < kLags; j += 2) {
    first[static_cast<std::size_t>(j)] = 2.0;
  }
  EXPECT_EQ(peak_of(first).index, 11);

  // A signed zero: the first zero stays the peak.
  auto zeros = magnitudes(-kInf);
  zeros[77] = -0.0;
  zeros[78] = 0.0;
  const lumetra::Peak z = peak_of(zeros);
  EXPECT_EQ(z.index, 78);
  EXPECT_EQ(bits(z.value), bits(-0.0));

  // The last element alone is largest.
  auto last = magnitudes(0.5);
  last[kLags - 1] = 0.75;
  EXPECT_EQ(peak_of(last).index, kLags);
}

TEST(FindPeak, AllNaNGivesIndexOneAndThatNaN) {
  auto m = magnitudes(kNaN);
  m[0] = std::bit_cast<double>(0x7FF80000DEADBEEFu);
  const lumetra::Peak p = peak_of(m);
  EXPECT_EQ(p.index, 1);
  EXPECT_EQ(bits(p.value), 0x7FF80000DEADBEEFu);
}

TEST(TrustRatio, MeanOffPeakMagnitudeOverThePeak) {
  auto m = magnitudes(1.0);
  m[719999] = 100.0;
  // (480000 + 100 - 100) / (100 * 480000), each step exact but the last.
  EXPECT_EQ(lumetra::trust_ratio(std::span<const double, kLags>(m.data(), kLags), {720000, 100.0}),
            0.01);
  // Values outside the window do not count, and the window is summed first
  // to last: 1e16 - 1e16 cancels before the 479997 ones, 100 and 4 arrive,
  // so the sum is exactly 480101 (any other order rounds it to an even value).
  m[0] = 1e300;
  m[kLags - 1] = 1e300;
  m[719999 - 240000] = 1e16;
  m[719999 - 239999] = -1e16;
  m[719999 + 240000] = 4.0;
  EXPECT_EQ(lumetra::trust_ratio(std::span<const double, kLags>(m.data(), kLags), {720000, 100.0}),
            (480101.0 - 100.0) / (100.0 * 480000.0));
}

TEST(TrustRatio, WindowFitsOnlyAwayFromTheEnds) {
  EXPECT_FALSE(lumetra::trust_window_fits(1));
  EXPECT_FALSE(lumetra::trust_window_fits(240000));
  EXPECT_TRUE(lumetra::trust_window_fits(240001));
  EXPECT_TRUE(lumetra::trust_window_fits(1199999));
  EXPECT_FALSE(lumetra::trust_window_fits(1200000));
  EXPECT_FALSE(lumetra::trust_window_fits(kLags));
}

// The kernels on their own, at lengths and lane counts that leave
// remainders, with NaN and infinities; SSE2 and AVX2 must agree with plain
// loops bit for bit.
TEST(Kernels, AgreeWithPlainLoops) {
  std::vector<double> x = testing_support::noise(240 * 64 + 241, 0x1p23, 7);
  x[241] = kNaN;  // in the maximum's range
  x[250] = -kInf;
  x[961] = kNaN;    // frame 4
  x[1200] = kInf;   // frames 4 and 5 share it
  x[3000] = -kInf;  // frame 12
  for (const lumetra::kernels::Table* t : kTables) {
    for (long count = 0; count <= 13; ++count) {
      std::vector<double> got(static_cast<std::size_t>(count) + 1, -7.0);
      t->frame_sums(x.data(), 3, count, got.data());
      for (long f = 0; f < count; ++f) {
        double acc = 0.0;
        for (int k = 0; k < 241; ++k) {
          const double v = x[static_cast<std::size_t>(240 * (3 + f) + k)];
          acc += v * v;
        }
        EXPECT_EQ(bits(got[static_cast<std::size_t>(f)]), bits(acc))
            << runtime::isa_name(t->isa) << " frame " << f;
      }
      EXPECT_EQ(got[static_cast<std::size_t>(count)], -7.0) << "written past the end";
    }
    for (long n = 0; n <= 37; ++n) {
      double want = -kInf;
      for (long i = 0; i < n; ++i) {
        if (x[static_cast<std::size_t>(235 + i)] > want) {
          want = x[static_cast<std::size_t>(235 + i)];
        }
      }
      EXPECT_EQ(t->max_skip_nan(x.data() + 235, n, -kInf), want)
          << runtime::isa_name(t->isa) << " n " << n;
    }
  }
}

}  // namespace
