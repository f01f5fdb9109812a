// The diagnostics of quenbar's core: the quantities behind every estimate
// against the straightforward reference, the estimate against the exported
// entry point bit for bit, and the table of every outcome: finite, each
// refusal of bad input, and each reason a result is NaN or infinite.
//
// At fs = 200 Hz a frame is one sample: a gate sample of 1000 gives a level
// near -30 dB (active), a gate sample of 0 gives -120 dB (inactive), and a
// frame's power is the square of its measured sample.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "quenbar.h"
#include "quenbar/snr.h"
#include "support/records.h"
#include "support/snr_reference.h"
#include "synth.h"

namespace {

using quenbar::Reason;
using namespace testing_support;

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

// Every outcome of the estimate in one table: the inputs, the name of the
// reason (quenbar::kReasonTexts: hosts and the tools' JSON match on it) and
// the bits of snrDb. A refusal gives exactly the library's NaN; a NaN the
// arithmetic forms is any NaN (kAnyNaN). Most cases have one-sample frames
// (fs = 200); the refusals take two seconds of speech in noise at 8 kHz, and
// hand-built records, as a host may fill the fields itself.
constexpr std::uint64_t kAnyNaN = 0;  // no case expects +0.0
constexpr std::uint64_t kPlusInf = 0x7FF0000000000000;

struct OutcomeCase {
  const char* what;
  const emxArray_real_T* gate;
  const emxArray_real_T* measured;
  double fs;
  const char* reason;
  std::uint64_t snr_bits;
};

TEST(SnrOutcomes, EveryReasonWithItsNameAndBits) {
  synth::SnrScene s = synth::speech_in_noise(8000.0, 2.0, 12.0, 21);
  const auto n = static_cast<std::int32_t>(s.gate.size());
  std::vector<Record> kept;
  auto rec = [&](const std::vector<double>& v) {
    kept.push_back(column(v));
    return kept.back().get();
  };
  std::deque<emxArray_real_T> hand;
  auto by_hand = [&](double* data, std::int32_t* size, std::int32_t dims) {
    return &hand.emplace_back(emxArray_real_T{data, size, n, dims, 0});
  };
  std::int32_t negative[1] = {-40};
  std::int32_t as_column[2] = {n, 1};
  std::int32_t no_columns[2] = {n, 0};
  std::int32_t negative_columns[2] = {n, -1};
  std::int32_t past_int32[2] = {n, 1 << 20};
  std::int32_t two_to_31[2] = {1 << 16, 1 << 15};  // 2^31 elements: one past INT32_MAX
  double* g = s.gate.data();
  double* m = s.measured.data();
  const emxArray_real_T* gate = rec(s.gate);
  const emxArray_real_T* measured = rec(s.measured);
  const double loud = 1000.0;  // a level near -30 dB: active
  const emxArray_real_T* alternate = rec({loud, 0, loud, 0});
  const emxArray_real_T* loud_first = rec({loud, 0, 0});
  const std::vector<double> short_by_one(s.measured.begin(), s.measured.end() - 1);
  constexpr double kFs = 8000.0;  // for the refusals
  constexpr double k1 = 200.0;    // one-sample frames
  constexpr double kMax = std::numeric_limits<double>::max();
  const char* const kBad = "bad_input";
  const char* const kNonFinite = "non_finite_samples";
  std::vector<OutcomeCase> cases = {
      {"signal power equal to the noise: the -120 dB floor", rec({loud, loud, 0, 0}),
       rec({3, 3, 3, -3}), k1, "finite", bits(10.0 * std::log10(1e-12))},
      {"null gate", nullptr, measured, kFs, kBad, kNaNBits},
      {"null measured", gate, nullptr, kFs, kBad, kNaNBits},
      {"both null", nullptr, nullptr, kFs, kBad, kNaNBits},
      {"gate extent negative", by_hand(g, negative, 1), measured, kFs, kBad, kNaNBits},
      {"gate with no columns", by_hand(g, no_columns, 2), measured, kFs, kBad, kNaNBits},
      {"gate, negative columns", by_hand(g, negative_columns, 2), measured, kFs, kBad, kNaNBits},
      {"gate past int32", by_hand(g, past_int32, 2), measured, kFs, kBad, kNaNBits},
      {"gate of 2^31 elements", by_hand(g, two_to_31, 2), measured, kFs, kBad, kNaNBits},
      {"gate without extents", by_hand(g, nullptr, 1), measured, kFs, kBad, kNaNBits},
      {"gate without dimensions", by_hand(g, no_columns, 0), measured, kFs, kBad, kNaNBits},
      {"gate without data", by_hand(nullptr, as_column, 2), measured, kFs, kBad, kNaNBits},
      {"measured, negative columns", gate, by_hand(m, negative_columns, 2), kFs, kBad, kNaNBits},
      {"measured past int32", gate, by_hand(m, past_int32, 2), kFs, kBad, kNaNBits},
      {"measured of 2^31 elements", gate, by_hand(m, two_to_31, 2), kFs, kBad, kNaNBits},
      {"measured without extents", gate, by_hand(m, nullptr, 1), kFs, kBad, kNaNBits},
      {"measured without data", gate, by_hand(nullptr, as_column, 2), kFs, kBad, kNaNBits},
      {"measured one sample short", gate, rec(short_by_one), kFs, kBad, kNaNBits},
      {"empty measured", gate, rec({}), kFs, kBad, kNaNBits},
      {"empty", rec({}), rec({}), 48000.0, "no_frames", kAnyNaN},
      {"gate shorter than a frame", rec(std::vector<double>(239, loud)),
       rec(std::vector<double>(239, 1.0)), 48000.0, "no_frames", kAnyNaN},
      {"a frame longer than the signal", gate, measured, 1e15, "no_frames", kAnyNaN},
      {"the largest rate", gate, measured, kMax, "no_frames", kAnyNaN},
      {"every frame active", rec({loud, loud, loud}), rec({1, 2, 3}), k1, "no_inactive_frame",
       kAnyNaN},
      {"no frame active", rec({0, 0, 0}), rec({1, 2, 3}), k1, "no_active_frame", kAnyNaN},
      {"a NaN measured sample", alternate, rec({1, 2, kNaN, 1}), k1, kNonFinite, kAnyNaN},
      {"an infinite noise sample", loud_first, rec({5, kInf, 1}), k1, kNonFinite, kAnyNaN},
      {"an infinite signal sample", loud_first, rec({kInf, 1, 1}), k1, kNonFinite, kPlusInf},
      {"measured signal silent", alternate, rec({0, 0, 0, 0}), k1, "silent_measured", kAnyNaN},
      {"signal below the noise", alternate, rec({1, 5, 1, 5}), k1, "signal_below_noise", kAnyNaN},
      {"silent in the inactive frames", alternate, rec({3, 0, 4, 0}), k1, "zero_noise", kPlusInf},
  };
  // Rates that give no whole sample per frame, or endless frames.
  for (const double fs : {199.99999999999997, 199.0, 1.0, 0.0, -0.0, -48000.0, kNaN, -kNaN, kInf,
                          -kInf, 1e-300, std::numeric_limits<double>::denorm_min()}) {
    cases.push_back({"a rate refused", gate, measured, fs, "bad_rate", kNaNBits});
  }
  std::set<std::string> seen;
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.what << " (fs " << c.fs << ")");
    Outcome r{};
    double extra = 1.0;
    SNR_estimation(c.gate, c.measured, c.fs, &r.exported, &extra);
    r.core = quenbar::estimate_with_diagnostics(c.gate, c.measured, c.fs);
    const Reason reason = r.core.diagnostics.reason;
    EXPECT_STREQ(quenbar::reason_text(reason).name, c.reason);
    seen.insert(quenbar::reason_text(reason).name);
    EXPECT_EQ(bits(extra), 0u);
    if (c.snr_bits == kAnyNaN) {
      EXPECT_TRUE(std::isnan(r.exported)) << r.exported;
    } else {
      EXPECT_EQ(bits(r.exported), c.snr_bits) << r.exported;
    }
    if (reason == Reason::kBadInput) {
      EXPECT_TRUE(same_result(r.core.snr_db, r.exported));
      continue;
    }
    EXPECT_TRUE(same_result(r.core.diagnostics.frame_length, std::floor(0.005 * c.fs)));
    if (reason != Reason::kBadRate) {
      r.trace = reference::snr(c.gate, c.measured, c.fs);
      expect_consistent(r, c.what);
    }
  }
  EXPECT_EQ(seen.size(), std::size(quenbar::kReasonTexts)) << "a reason without a case";
}

}  // namespace
