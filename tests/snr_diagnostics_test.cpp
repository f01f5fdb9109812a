// The diagnostics of quenbar's core: the quantities behind every estimate
// against the straightforward reference, the estimate against the exported
// entry point bit for bit, and one case for each reason a result is NaN or
// infinite.
//
// Most cases run at fs = 200 Hz, where a frame is one sample: a gate sample
// of 1000 gives a level near -30 dB (active), a gate sample of 0 gives -120 dB
// (inactive), and a frame's power is the square of its measured sample.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "quenbar.h"
#include "quenbar/snr.h"
#include "support/records.h"
#include "support/snr_reference.h"
#include "synth.h"

namespace {

using quenbar::Reason;
using testing_support::bits;
using testing_support::column;
using testing_support::kInf;
using testing_support::kNaN;
using testing_support::Record;
using testing_support::same_result;

struct Outcome {
  quenbar::Estimate core;
  double exported;
  reference::SnrTrace trace;
};

Outcome run(const std::vector<double>& gate, const std::vector<double>& measured, double fs) {
  Record g = column(gate);
  Record m = column(measured);
  Outcome r{};
  r.core = quenbar::estimate_with_diagnostics(g.get(), m.get(), fs);
  double extra = 1.0;
  SNR_estimation(g.get(), m.get(), fs, &r.exported, &extra);
  EXPECT_EQ(extra, 0.0);
  r.trace = reference::snr(g.get(), m.get(), fs);
  return r;
}

double power_db(double p) {
  return 10.0 * std::log10(p / (32767.0 * 32767.0));
}

// Every diagnostic of a run that reached the closing formula: equal to the
// reference's quantities, or formed from them as documented.
void expect_consistent(const Outcome& r, const char* what) {
  const quenbar::Diagnostics& d = r.core.diagnostics;
  EXPECT_TRUE(same_result(r.core.snr_db, r.exported)) << what;
  EXPECT_EQ(bits(r.core.snr_db), bits(r.trace.snr_db)) << what;
  EXPECT_EQ(bits(d.frame_length), bits(r.trace.frame_length)) << what;
  EXPECT_EQ(bits(d.frame_count), bits(r.trace.frame_count)) << what;
  EXPECT_EQ(bits(d.active_frames), bits(r.trace.active_frames)) << what;
  EXPECT_TRUE(same_result(d.active_power_sum, r.trace.active_power_sum)) << what;
  EXPECT_TRUE(same_result(d.inactive_power_sum, r.trace.inactive_power_sum)) << what;
  EXPECT_TRUE(same_result(d.noise_power, r.trace.noise_power)) << what;
  const double A = d.active_frames;
  EXPECT_TRUE(same_result(d.activity_factor, A / d.frame_count)) << what;
  EXPECT_TRUE(same_result(d.signal_power, (d.active_power_sum - A * d.noise_power) / A)) << what;
  EXPECT_TRUE(same_result(d.noise_power_db, power_db(d.noise_power))) << what;
  EXPECT_TRUE(same_result(d.signal_power_db, power_db(d.signal_power))) << what;
  EXPECT_EQ(d.reason == Reason::kFinite, std::isfinite(r.core.snr_db)) << what;
}

TEST(SnrDiagnostics, SpeechInNoiseAtSeveralRates) {
  for (const double fs : {8000.0, 44100.0, 48000.0}) {
    const synth::SnrScene scene = synth::speech_in_noise(fs, 4.0, 15.0, 7);
    const Outcome r = run(scene.gate, scene.measured, fs);
    expect_consistent(r, "speech in noise");
    const quenbar::Diagnostics& d = r.core.diagnostics;
    EXPECT_EQ(d.reason, Reason::kFinite);
    EXPECT_EQ(d.frame_length, std::floor(0.005 * fs));
    EXPECT_EQ(d.frame_count, std::floor(std::floor(4.0 * fs) / d.frame_length));
    EXPECT_GT(d.activity_factor, 0.1);
    EXPECT_LT(d.activity_factor, 0.9);
    // The signal stands 15 dB above the noise, give or take the bursts' edges.
    EXPECT_NEAR(d.signal_power_db - d.noise_power_db, r.core.snr_db, 1e-9);
    EXPECT_NEAR(r.core.snr_db, 15.0, 0.5);
  }
}

struct ReasonCase {
  const char* what;
  std::vector<double> gate;
  std::vector<double> measured;
  Reason reason;
  std::uint64_t snr_bits;  // 0: any NaN
};

constexpr std::uint64_t kAnyNaN = 0;
constexpr std::uint64_t kPlusInf = 0x7FF0000000000000;

TEST(SnrDiagnostics, EachReasonForANonFiniteResult) {
  const ReasonCase cases[] = {
      {"every frame active", {1000, 1000, 1000}, {1, 2, 3}, Reason::kNoInactiveFrame, kAnyNaN},
      {"no frame active", {0, 0, 0}, {1, 2, 3}, Reason::kNoActiveFrame, kAnyNaN},
      {"a NaN measured sample",
       {1000, 0, 1000, 0},
       {1, 2, kNaN, 1},
       Reason::kNonFiniteSamples,
       kAnyNaN},
      {"an infinite measured sample",
       {1000, 0, 0},
       {kInf, 1, 1},
       Reason::kNonFiniteSamples,
       kPlusInf},
      {"measured signal silent",
       {1000, 0, 1000, 0},
       {0, 0, 0, 0},
       Reason::kSilentMeasured,
       kAnyNaN},
      {"signal below the noise",
       {1000, 0, 1000, 0},
       {1, 5, 1, 5},
       Reason::kSignalBelowNoise,
       kAnyNaN},
      {"silent in the inactive frames",
       {1000, 0, 1000, 0},
       {3, 0, 3, 0},
       Reason::kZeroNoise,
       kPlusInf},
  };
  for (const ReasonCase& c : cases) {
    const Outcome r = run(c.gate, c.measured, 200.0);
    expect_consistent(r, c.what);
    EXPECT_EQ(r.core.diagnostics.reason, c.reason) << c.what;
    if (c.snr_bits == kAnyNaN) {
      EXPECT_TRUE(std::isnan(r.core.snr_db)) << c.what;
    } else {
      EXPECT_EQ(bits(r.core.snr_db), c.snr_bits) << c.what;
    }
  }
}

TEST(SnrDiagnostics, TheFloorIsFinite) {
  // Active and inactive frames of equal power: the ratio is 0 and the
  // estimate the -120 dB floor, a finite result.
  const Outcome r = run({1000, 0, 1000, 0}, {2, 2, 2, 2}, 200.0);
  expect_consistent(r, "floor");
  EXPECT_EQ(r.core.snr_db, 10.0 * std::log10(1e-12));
  EXPECT_EQ(r.core.diagnostics.reason, Reason::kFinite);
  EXPECT_EQ(r.core.diagnostics.signal_power, 0.0);
  EXPECT_EQ(r.core.diagnostics.signal_power_db, -kInf);
}

TEST(SnrDiagnostics, RefusedBeforeTheFrames) {
  Record g = column({1000.0, 0.0, 1000.0});
  Record m = column({1.0, 2.0, 3.0});
  Record short_measured = column({1.0, 2.0});
  Record one_sample = column({1000.0});
  struct Case {
    const char* what;
    const emxArray_real_T* gate;
    const emxArray_real_T* measured;
    double fs;
    Reason reason;
    double frame_length;  // NaN: none formed
  };
  const Case cases[] = {
      {"null gate", nullptr, m.get(), 200.0, Reason::kBadInput, kNaN},
      {"null measured", g.get(), nullptr, 200.0, Reason::kBadInput, kNaN},
      {"measured shorter than the frames", g.get(), short_measured.get(), 200.0, Reason::kBadInput,
       1.0},
      {"fs below 200", g.get(), m.get(), 199.0, Reason::kBadRate, 0.0},
      {"fs NaN", g.get(), m.get(), kNaN, Reason::kBadRate, kNaN},
      {"fs infinite", g.get(), m.get(), kInf, Reason::kBadRate, kInf},
      {"gate shorter than a frame", one_sample.get(), m.get(), 400.0, Reason::kNoFrames, 2.0},
  };
  for (const Case& c : cases) {
    const quenbar::Estimate e = quenbar::estimate_with_diagnostics(c.gate, c.measured, c.fs);
    double exported = 0.0;
    double extra = 1.0;
    SNR_estimation(c.gate, c.measured, c.fs, &exported, &extra);
    EXPECT_TRUE(std::isnan(e.snr_db)) << c.what;
    EXPECT_TRUE(std::isnan(exported)) << c.what;
    EXPECT_EQ(e.diagnostics.reason, c.reason) << c.what;
    EXPECT_TRUE(same_result(e.diagnostics.frame_length, c.frame_length)) << c.what;
  }
}

}  // namespace
