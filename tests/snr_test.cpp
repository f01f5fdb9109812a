// SNR_estimation's frame arithmetic, the estimate under scaling, the shapes
// of the records (every outcome and refusal: snr_diagnostics_test.cpp;
// overlapping calls: snr_threads_test.cpp).
//
// Most cases run at fs = 200 Hz, where a frame is one sample: a frame's level
// is then 20 log10((|g| + 1e-6) / 32767) of its gate sample g exactly, and its
// power the square of its measured sample, so each case sets its frames'
// levels and powers directly. The expected activity of every frame is stated
// by the case; the expected estimate follows from those flags and the powers
// by the closing formula, and must match the library to the last bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "quenbar.h"
#include "support/records.h"
#include "support/snr_reference.h"
#include "synth.h"

namespace {

using namespace testing_support;

constexpr double kOneSampleFrames = 200.0;  // fs giving L = 1

struct Outputs {
  double snr_db;
  double extra;
};

// SNR_estimation on exact-size copies of the signals (a read past either is
// caught by the address sanitizer).
Outputs run(const std::vector<double>& gate, const std::vector<double>& measured, double fs) {
  Record g = column(gate);
  Record m = column(measured);
  Outputs out{123.0, 456.0};
  SNR_estimation(g.get(), m.get(), fs, &out.snr_db, &out.extra);
  return out;
}

double reference_snr(const std::vector<double>& gate, const std::vector<double>& measured,
                     double fs) {
  Record g = column(gate);
  Record m = column(measured);
  return reference::snr(g.get(), m.get(), fs).snr_db;
}

// The closing formula: A active frames, P_n from the inactive ones, the ratio
// of the active frames' excess mean power to P_n, in dB with the 1e-12 floor.
double expected_snr(const std::vector<int>& active, const std::vector<double>& powers) {
  double A = 0.0;
  double active_sum = 0.0;
  double inactive_sum = 0.0;
  for (std::size_t i = 0; i < active.size(); ++i) {
    if (active[i] != 0) {
      A += 1.0;
      active_sum += powers[i];
    } else {
      inactive_sum += powers[i];
    }
  }
  const double F = static_cast<double>(active.size());
  const double noise = inactive_sum / (F - A);
  return 10.0 * std::log10(1e-12 + ((active_sum - A * noise) / A) / noise);
}

using reference::amplitude;
using reference::level_of;

// One-sample frames: gate samples and measured samples; powers are squares.
struct Frames {
  std::vector<double> gate;
  std::vector<double> measured;
  std::vector<int> active;  // what each frame must be
  std::vector<double> powers() const {
    std::vector<double> p;
    for (double m : measured) {
      p.push_back(m * m / 1.0);
    }
    return p;
  }
};

void expect_decisions(const Frames& f, const char* what) {
  const Outputs out = run(f.gate, f.measured, kOneSampleFrames);
  const double want = expected_snr(f.active, f.powers());
  EXPECT_EQ(bits(out.snr_db), bits(want)) << what << ": " << out.snr_db << " vs " << want;
  EXPECT_EQ(bits(out.snr_db), bits(reference_snr(f.gate, f.measured, kOneSampleFrames))) << what;
}

// --- Frames --------------------------------------------------------------------

TEST(SnrFrames, FrameLengthFollowsTheRate) {
  // Alternate L-sample blocks of loud and silent gate: with the right L every
  // other frame is active and each frame's power is its block's.
  struct Case {
    double fs;
    int L;
  };
  for (const Case c : {Case{48000.0, 240}, Case{44100.0, 220}, Case{8000.0, 40}, Case{16000.0, 80},
                       Case{11025.0, 55}, Case{399.99, 1}, Case{12345.678, 61}}) {
    const int frames = 10;
    std::vector<double> gate;
    std::vector<double> measured;
    std::vector<int> active;
    std::vector<double> powers;
    for (int i = 0; i < frames; ++i) {
      const bool loud = i % 2 == 0;
      gate.insert(gate.end(), static_cast<std::size_t>(c.L), loud ? 1000.0 : 0.0);
      measured.insert(measured.end(), static_cast<std::size_t>(c.L), loud ? 30.0 : 3.0);
      active.push_back(loud ? 1 : 0);
      powers.push_back(loud ? 900.0 : 9.0);
    }
    EXPECT_EQ(bits(run(gate, measured, c.fs).snr_db), bits(expected_snr(active, powers)))
        << "fs " << c.fs;
  }
}

TEST(SnrFrames, SamplesAfterTheLastWholeFrameAreIgnored) {
  // 48000 samples at 48 kHz: 200 frames of 240; 239 more are not a frame.
  std::mt19937_64 rng(3);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<double> gate(48000);
  std::vector<double> measured(48000);
  for (std::size_t k = 0; k < gate.size(); ++k) {
    gate[k] = (k / 4800) % 2 == 0 ? 2000.0 * normal(rng) : 0.0;
    measured[k] = gate[k] + 10.0 * normal(rng);
  }
  const double whole = run(gate, measured, 48000.0).snr_db;
  ASSERT_TRUE(std::isfinite(whole));
  gate.insert(gate.end(), 239, kNaN);
  measured.insert(measured.end(), 239, 1e300);
  EXPECT_EQ(bits(run(gate, measured, 48000.0).snr_db), bits(whole));
  // The measured signal needs to hold only the whole frames.
  measured.resize(48000);
  EXPECT_EQ(bits(run(gate, measured, 48000.0).snr_db), bits(whole));
}

TEST(SnrFrames, SmoothingFollowsThePreviousSmoothedLevel) {
  // -72 after -50 smooths to -69.8 (active); -80 after -60 to -78 (inactive).
  const double silent = 0.0;
  expect_decisions({{amplitude(-50), amplitude(-72), silent}, {30, 50, 7}, {1, 1, 0}},
                   "-72 after -50");
  expect_decisions({{amplitude(-60), amplitude(-80), silent}, {50, 7, 8}, {1, 0, 0}},
                   "-80 after -60");
  // Frame 0 keeps its own level: -65 is active and -75 inactive there, though
  // -65 smoothed after a silent frame (-70.5) is not.
  expect_decisions({{amplitude(-65), amplitude(-20), silent}, {30, 50, 7}, {1, 1, 0}},
                   "frame 0 at -65");
  expect_decisions({{amplitude(-75), amplitude(-20), silent}, {30, 50, 7}, {0, 1, 0}},
                   "frame 0 at -75");
  expect_decisions(
      {{silent, amplitude(-65), amplitude(-20), silent}, {30, 50, 40, 7}, {0, 0, 1, 0}},
      "-65 after silence");
  // Frame 1 is smoothed with frame 0's clamped level, -120, not its own
  // -210: -64 then gives -69.6 (active), not -78.6.
  expect_decisions({{silent, amplitude(-64), silent}, {3, 50, 7}, {0, 1, 0}}, "-64 after silence");
}

TEST(SnrFrames, QuietAndNaNFramesAreClampedToMinus120) {
  // After a frame at -150, clamped to -120, a frame at -64.4 smooths to
  // -69.96: active. Unclamped it would give -72.96.
  expect_decisions(
      {{amplitude(-150), amplitude(-64.4), amplitude(-20), 0.0}, {3, 50, 40, 7}, {0, 1, 1, 0}},
      "-150");
  // A NaN gate sample gives a NaN level, clamped the same way.
  expect_decisions({{kNaN, amplitude(-64.4), amplitude(-20), 0.0}, {3, 50, 40, 7}, {0, 1, 1, 0}},
                   "NaN");
  // In a longer frame, one NaN sample among loud ones makes the frame -120.
  std::vector<double> gate(40, 5000.0);
  gate[17] = -kNaN;
  gate.insert(gate.end(), 40, 5000.0);
  gate.insert(gate.end(), 40, 0.0);
  std::vector<double> measured(120, 2.0);
  std::fill(measured.begin() + 40, measured.begin() + 80, 10.0);
  EXPECT_EQ(bits(run(gate, measured, 8000.0).snr_db),
            bits(expected_snr({0, 1, 0}, {4.0, 100.0, 4.0})));
  // There is no upper clamp: a frame at +100 dB lifts the next one, at -80,
  // to -62 (active).
  expect_decisions({{amplitude(100), amplitude(-80), 0.0, 0.0}, {30, 50, 7, 8}, {1, 1, 0, 0}},
                   "+100");
}

TEST(SnrFrames, ExactlyMinus70IsInactive) {
  const double tie = reference::gate_sample_at(-70.0);
  ASSERT_EQ(level_of(tie), -70.0);
  // Several neighbouring samples give exactly -70: step past them.
  double above = tie;
  while (level_of(above) == -70.0) {
    above = std::nextafter(above, kInf);
  }
  ASSERT_GT(level_of(above), -70.0);
  expect_decisions({{tie, amplitude(-20), 0.0}, {3, 50, 7}, {0, 1, 0}}, "frame 0 at -70");
  expect_decisions({{above, amplitude(-20), 0.0}, {3, 50, 7}, {1, 1, 0}}, "just above -70");
  // A run at -70 stays exactly -70 through the smoothing: all inactive.
  expect_decisions(
      {{tie, tie, tie, tie, amplitude(-20), 0.0}, {3, 4, 5, 6, 50, 7}, {0, 0, 0, 0, 1, 0}},
      "a run at -70");
}

// The previous level's weight is 1 - 0.9 in doubles (3FB9999999999998), not
// 0.1. Find two frames for which the two weights decide frame 1 differently
// and check that the library decides as the first does.
TEST(SnrFrames, SmoothingWeightIsOneMinusPointNine) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> uniform(-119.0, -40.0);
  std::uniform_int_distribution<int> nudge(-60, 60);
  int found = 0;
  for (int trial = 0; trial < 200000 && found < 3; ++trial) {
    const double g0 = amplitude(uniform(rng));
    const double p = level_of(g0);
    double g1 = amplitude((-70.0 - p * 0.1) / 0.9);
    for (int k = nudge(rng); k != 0; k += k > 0 ? -1 : 1) {
      g1 = std::nextafter(g1, k > 0 ? kInf : 0.0);
    }
    const double x = level_of(g1);
    const bool with_carry = x * 0.9 + p * 0.09999999999999998 > -70.0;
    const bool with_tenth = x * 0.9 + p * 0.1 > -70.0;
    if (with_carry == with_tenth) {
      continue;
    }
    ++found;
    expect_decisions({{g0, g1, amplitude(-20), 0.0},
                      {3, 50, 40, 7},
                      {p > -70.0 ? 1 : 0, with_carry ? 1 : 0, 1, 0}},
                     "weight 1 - 0.9");
  }
  EXPECT_EQ(found, 3);
}

TEST(SnrFrames, InfiniteGateSampleMakesEveryLaterFrameActive) {
  // Its level is +Inf (no clamp), and the smoothing carries +Inf onwards.
  for (double spike : {kInf, -kInf, 1e200}) {  // 1e200 squared overflows to +Inf
    expect_decisions({{0.0, 0.0, spike, 0.0, 0.0, 0.0}, {3, 4, 50, 40, 60, 70}, {0, 0, 1, 1, 1, 1}},
                     "spike");
  }
  // Over 240-sample frames at 48 kHz too.
  std::vector<double> gate(240 * 6, 0.0);
  gate[240 * 2 + 100] = kInf;
  std::vector<double> measured(240 * 6, 1.0);
  std::fill(measured.begin() + 480, measured.end(), 5.0);
  EXPECT_EQ(bits(run(gate, measured, 48000.0).snr_db),
            bits(expected_snr({0, 0, 1, 1, 1, 1}, {1, 1, 25, 25, 25, 25})));
}

// --- Outcomes ------------------------------------------------------------------

TEST(SnrOutcomes, ScalingTheMeasuredSignalKeepsTheEstimate) {
  std::mt19937_64 rng(9);
  std::normal_distribution<double> normal(0.0, 1.0);
  const int L = 240;
  const int F = 400;
  std::vector<double> gate(static_cast<std::size_t>(L * F));
  std::vector<double> measured(gate.size());
  for (std::size_t k = 0; k < gate.size(); ++k) {
    gate[k] = (k / 9600) % 2 == 0 ? 3000.0 * normal(rng) : 0.0;
    measured[k] = gate[k] + 300.0 * normal(rng);
  }
  const double base = run(gate, measured, 48000.0).snr_db;
  ASSERT_NEAR(base, 20.0, 0.5);
  // Powers of two scale every square, sum and quotient exactly.
  for (double factor : {2.0, 0.5, -1024.0, 0x1p-20}) {
    std::vector<double> scaled(measured);
    for (double& v : scaled) {
      v *= factor;
    }
    EXPECT_EQ(bits(run(gate, scaled, 48000.0).snr_db), bits(base)) << factor;
  }
  // Other factors change the roundings only: each sum of n terms moves by at
  // most about n ulps, the frame sums (L terms) and the power sums (F terms)
  // in turn, and the dB value by 10 / ln 10 times the relative change of the
  // ratio (a few such sums at this SNR).
  const double tolerance = 10.0 / std::log(10.0) * 8.0 * (L + F) * 0x1p-52;
  for (double factor : {3.7, -0.01, 1e5, 1.0 / 3.0}) {
    std::vector<double> scaled(measured);
    for (double& v : scaled) {
      v *= factor;
    }
    EXPECT_NEAR(run(gate, scaled, 48000.0).snr_db, base, tolerance) << factor;
  }
  // Scaling the gate moves its levels and so the decisions: at -48 dB the
  // first frame of each burst no longer clears -70 after the silence.
  std::vector<double> quiet(gate);
  for (double& v : quiet) {
    v *= 0.004;
  }
  const double quieter = run(quiet, measured, 48000.0).snr_db;
  EXPECT_TRUE(std::isfinite(quieter));
  EXPECT_NE(bits(quieter), bits(base));
  EXPECT_TRUE(same_result(quieter, reference_snr(quiet, measured, 48000.0)));
}

// --- Shapes, outputs, lifecycle ---------------------------------------------------

// Two seconds of bursts in noise at 8 kHz (400 frames of 40 samples).
synth::SnrScene signals() {
  return synth::speech_in_noise(8000.0, 2.0, 12.0, 21);
}

// The measured signal's sample count comes from all its extents: a row
// vector, or a matrix of as many elements, is the same signal. (Bad input
// and every other outcome: snr_diagnostics_test.cpp.)
TEST(SnrShapes, MeasuredSamplesAreCountedOverAllExtents) {
  const synth::SnrScene s = signals();
  std::vector<double> m(s.measured);
  std::vector<double> g(s.gate);
  Record gate = testing_support::column_wrapper(g);
  Record as_column = testing_support::column_wrapper(m);
  Record as_row = testing_support::row_wrapper(m);
  Record as_matrix(emxCreateWrapper_real_T(m.data(), 8000, 2));
  double by_column = 0.0;
  double by_row = 0.0;
  double by_matrix = 0.0;
  SNR_estimation(gate.get(), as_column.get(), 8000.0, &by_column, nullptr);
  SNR_estimation(gate.get(), as_row.get(), 8000.0, &by_row, nullptr);
  SNR_estimation(gate.get(), as_matrix.get(), 8000.0, &by_matrix, nullptr);
  ASSERT_TRUE(std::isfinite(by_column));
  EXPECT_EQ(bits(by_row), bits(by_column));
  EXPECT_EQ(bits(by_matrix), bits(by_column));
  // The gate's samples are counted by size[0]: as a row it is one sample,
  // less than a frame.
  Record gate_row = testing_support::row_wrapper(g);
  double by_gate_row = 0.0;
  SNR_estimation(gate_row.get(), as_column.get(), 8000.0, &by_gate_row, nullptr);
  EXPECT_TRUE(std::isnan(by_gate_row));
}

TEST(SnrShapes, NullOutputsAreNotWritten) {
  const synth::SnrScene s = signals();
  Record gate = column(s.gate);
  Record measured = column(s.measured);
  double extra = 7.0;
  SNR_estimation(gate.get(), measured.get(), 8000.0, nullptr, &extra);
  EXPECT_EQ(bits(extra), 0u);
  double snr = 7.0;
  SNR_estimation(gate.get(), measured.get(), 8000.0, &snr, nullptr);
  EXPECT_EQ(bits(snr), bits(run(s.gate, s.measured, 8000.0).snr_db));
  SNR_estimation(nullptr, nullptr, kNaN, nullptr, nullptr);
}

TEST(SnrLifecycle, EstimateIsTheSameAroundInitializeAndTerminate) {
  const synth::SnrScene s = signals();
  const double before = run(s.gate, s.measured, 8000.0).snr_db;
  SNR_estimation_initialize();
  const double during = run(s.gate, s.measured, 8000.0).snr_db;
  SNR_estimation_terminate();
  EXPECT_EQ(bits(before), bits(during));
  EXPECT_EQ(bits(run(s.gate, s.measured, 8000.0).snr_db), bits(during));
}

}  // namespace
