// The hosts' library through its C API (the C host of audiomeasure_host.c
// and direct calls): the fixed libraries' bits on the demonstration pairs,
// whole and streamed in any chunks (audiomeasure_threads_test.cpp: from
// several threads at once); the step period a reference tells; the
// verdicts of pairs a real bench meets; every refusal; reports that grow;
// every allocation failure. The fixed libraries are loaded by name, as a
// host loads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "audiomeasure.h"
#include "audiomeasure/gain.h"
#include "audiomeasure/step_period.h"
#include "audiomeasure_host.h"
#include "emx_runtime.h"
#include "runtime/alloc.h"
#include "stimulus.h"
#include "support/demo_pair.h"
#include "support/library_cases.h"
#include "support/records.h"
#include "synth.h"

namespace {

using namespace testing_support;

struct Fixed {
  double level[AM_STEPS];
  double range[AM_STEPS];
  double peak;
  double failed;
};

// lumetra_estimation of the shipped library on the pair (25.2 s steps).
Fixed fixed_gain(const std::vector<double>& reference, const std::vector<double>& recording) {
  const cases::Library lib(cases::lumetra_library());
  EXPECT_TRUE(lib.loaded()) << lib.path();
  using Estimate = void (*)(const emxArray_real_T*, const emxArray_real_T*, double, double, double,
                            double*, double*, double*, double*);
  lib.function<void (*)()>("lumetra_estimation_initialize")();
  const cases::Wrapped ref(reference);
  const cases::Wrapped rec(recording);
  Fixed f{};
  lib.function<Estimate>("lumetra_estimation")(&ref.record, &rec.record, 0.0, 0.0, 0.0, f.level,
                                               f.range, &f.peak, &f.failed);
  return f;
}

double fixed_snr(const std::vector<double>& gate, const std::vector<double>& measured, double fs) {
  const cases::Library lib(cases::quenbar_library());
  EXPECT_TRUE(lib.loaded()) << lib.path();
  using Estimate =
      void (*)(const emxArray_real_T*, const emxArray_real_T*, double, double*, double*);
  lib.function<void (*)()>("SNR_estimation_initialize")();
  const cases::Wrapped g(gate);
  const cases::Wrapped m(measured);
  double snr = 0.0;
  double extra = 0.0;
  lib.function<Estimate>("SNR_estimation")(&g.record, &m.record, fs, &snr, &extra);
  return snr;
}

int gain(const std::vector<double>& reference, const std::vector<double>& recording, int period,
         std::int64_t chunk, am_gain_report& report) {
  return host_gain(reference.data(), static_cast<std::int64_t>(reference.size()), recording.data(),
                   static_cast<std::int64_t>(recording.size()), period, chunk, &report);
}

TEST(AudiomeasureGain, DemoPairGivesTheFixedBitsWholeAndStreamed) {
  const testing_support::DemoPair& p = testing_support::demo_pair();
  const Fixed fixed = fixed_gain(p.reference, p.recording);

  am_gain_report whole;
  ASSERT_EQ(gain(p.reference, p.recording, AM_PERIOD_AUTO, 0, whole), AM_OK);
  for (int k = 0; k < AM_STEPS; ++k) {
    EXPECT_EQ(bits(whole.step_level[k]), bits(fixed.level[k])) << k;
    EXPECT_EQ(bits(whole.step_range[k]), bits(fixed.range[k])) << k;
    // The device's own gain comes back (its noise moves it a little).
    EXPECT_NEAR(whole.gain[k], p.device.step_gain_db[k], 0.01) << k;
  }
  EXPECT_EQ(bits(whole.peak_level), bits(fixed.peak));
  EXPECT_EQ(bits(whole.failed), bits(fixed.failed));
  EXPECT_STREQ(am_verdict_name(whole.verdict), "trusted");
  EXPECT_EQ(whole.delay, 12345);
  EXPECT_EQ(whole.step_period, AM_PERIOD_25_2);
  EXPECT_EQ(whole.step_period_source, AM_PERIOD_SOURCE_AUTO);
  EXPECT_EQ(whole.step_period_warning, AM_PERIOD_WARNING_NONE);

  // Streamed in chunks that cut the opening, the blocks and the steps
  // anywhere: the same report, byte for byte.
  for (std::int64_t chunk : {std::int64_t{65537}, std::int64_t{1000003}}) {
    am_gain_report streamed;
    ASSERT_EQ(gain(p.reference, p.recording, AM_PERIOD_AUTO, chunk, streamed), AM_OK);
    EXPECT_TRUE(same_bytes(streamed, whole)) << chunk;
  }

  // A prepared reference tells what it alone decides before any recording.
  am_gain_reference* ref = nullptr;
  const auto n = static_cast<std::int64_t>(p.reference.size());
  ASSERT_EQ(am_gain_reference_create(nullptr, n, &ref), AM_OK);
  ASSERT_EQ(am_gain_reference_feed(ref, p.reference.data(), n), AM_OK);
  am_gain_report alone;
  am_gain_report_init(&alone);
  EXPECT_EQ(am_gain_reference_report(ref, &alone), AM_ERR_STATE);
  ASSERT_EQ(am_gain_reference_finish(ref), AM_OK);
  ASSERT_EQ(am_gain_reference_report(ref, &alone), AM_OK);
  am_gain_reference_destroy(ref);
  EXPECT_STREQ(am_verdict_name(alone.verdict), "not_trusted") << "no recording was measured";
  EXPECT_EQ(alone.step_period, whole.step_period);
  EXPECT_EQ(alone.step_period_warning, whole.step_period_warning);
  EXPECT_EQ(bits(alone.median_step_spread_db[1]), bits(whole.median_step_spread_db[1]));
  EXPECT_EQ(bits(alone.reference_step_level[4]), bits(whole.reference_step_level[4]));
  EXPECT_EQ(alone.step_start[10], whole.step_start[10]);
  EXPECT_TRUE(std::isnan(alone.step_level[0]));
}

// What a bench meets, each case from the demonstration pair: its verdict,
// the causes, how the recording was aligned, the uncovered steps and the
// first non-finite sample.
TEST(AudiomeasureGain, VerdictsOfPairsABenchMeets) {
  const testing_support::DemoPair& p = testing_support::demo_pair();
  struct Case {
    const char* name;
    void (*spoil)(std::vector<double>& reference, std::vector<double>& recording, int& period);
    const char* verdict;
    std::uint32_t causes;
    int aligned;
    std::uint32_t uncovered;
    int non_finite_signal;
    std::int64_t non_finite_position;
  };
  const Case cases[] = {
      {"recording cut to 30 s",
       [](std::vector<double>&, std::vector<double>& rec, int&) { rec.resize(30 * 48000); },
       "incomplete", 1u << AM_CAUSE_STEPS_NOT_COVERED, AM_ALIGNED_HEAD, 0x7FF, AM_SIGNAL_NONE, -1},
      {"NaN inside the reference's step 5",
       [](std::vector<double>& ref, std::vector<double>&, int&) { ref[5000000] = kNaN; },
       "non_finite_samples", 1u << AM_CAUSE_NON_FINITE_SAMPLES, AM_ALIGNED_WHOLE, 0,
       AM_SIGNAL_REFERENCE, 5000000},
      {"Inf in the recording's opening",
       [](std::vector<double>&, std::vector<double>& rec, int&) { rec[100] = -kInf; },
       // The correlation is NaN throughout: its first value is the peak.
       "non_finite_samples", 1u << AM_CAUSE_NON_FINITE_SAMPLES | 1u << AM_CAUSE_DELAY_OUT_OF_RANGE,
       AM_ALIGNED_NONE, 0, AM_SIGNAL_RECORDING, 100},
      {"the reference as its own recording",
       [](std::vector<double>& ref, std::vector<double>& rec, int&) { rec = ref; }, "not_trusted",
       1u << AM_CAUSE_NOT_LAGGING, AM_ALIGNED_NONE, 0, AM_SIGNAL_NONE, -1},
      {"24.7 s steps given for a 25.2 s stimulus",
       [](std::vector<double>&, std::vector<double>&, int& period) { period = AM_PERIOD_24_7; },
       // The steps straddle the device's steps, whose gains differ.
       "questionable", 1u << AM_CAUSE_UNSTEADY, AM_ALIGNED_WHOLE, 0, AM_SIGNAL_NONE, -1},
  };
  for (const Case& c : cases) {
    std::vector<double> reference = p.reference;
    std::vector<double> recording = p.recording;
    int period = AM_PERIOD_AUTO;
    c.spoil(reference, recording, period);
    am_gain_report r;
    ASSERT_EQ(gain(reference, recording, period, 0, r), AM_OK) << c.name;
    EXPECT_STREQ(am_verdict_name(r.verdict), c.verdict) << c.name;
    EXPECT_EQ(r.verdict_causes, c.causes) << c.name;
    EXPECT_EQ(r.aligned, c.aligned) << c.name;
    EXPECT_EQ(r.uncovered_steps, c.uncovered) << c.name;
    EXPECT_EQ(r.non_finite_signal, c.non_finite_signal) << c.name;
    EXPECT_EQ(r.non_finite_position, c.non_finite_position) << c.name;
    if (c.uncovered != 0) {
      // Step 1's measured half holds 30 s - 12345 samples - 27.6 s of the
      // recording; the other steps none.
      EXPECT_EQ(r.coverage[0], (30 * 48000 - 12345 - 1324800) / 604800.0);
      EXPECT_EQ(std::count(r.coverage + 1, r.coverage + AM_STEPS, 0.0), AM_STEPS - 1);
    }
    if (period == AM_PERIOD_24_7) {
      // Measured as given, with the warning that names the period that fits.
      EXPECT_EQ(r.step_period_warning, AM_PERIOD_WARNING_CONTRADICTED);
      EXPECT_EQ(r.fitting_period_s, 25.2);
      EXPECT_GT(r.median_step_spread_db[1], AM_PERIOD_UNSTEADY_DB);
    }
  }
}

// The verdict over made-up estimates, through the one function that writes
// it (am::write_report): a reference of 25.2 s steps with a second-long
// step 11, and an aligned, whole, clean recording of it 1000 samples late,
// changed as each case says. The verdict is the first that holds of
// non_finite_samples, not_trusted, incomplete, questionable and trusted;
// the causes gather all that lies behind it; a step is uncovered only where
// the alignment stood, and its quality judged only where it is covered.
struct MadeUp {
  am::ReferenceSummary s;
  lumetra::Estimate e{};
  am::Findings f;
};

MadeUp made_up() {
  MadeUp m;
  m.s.length = lumetra::required_reference_length(25.2) + 48000;
  m.s.layout = lumetra::step_layout(25.2, m.s.length);
  std::fill_n(m.s.own.step_level, AM_STEPS, -20.0);
  std::fill_n(m.s.own.step_range, AM_STEPS, 0.5);
  std::fill_n(m.e.step_level, AM_STEPS, -21.0);
  std::fill_n(m.e.step_range, AM_STEPS, 0.6);
  m.e.diagnostics.copy = lumetra::Copy::kWhole;
  m.e.diagnostics.aligned_samples = m.s.length;
  m.e.diagnostics.total_delay = 1000.0;
  m.f.recording_length = m.s.length + 1000;
  m.f.analysed = true;
  for (am::StepQuality& q : m.f.quality) {
    q.noise_distortion_db = -50.0;
  }
  return m;
}

// The changes the cases combine.
void noise_at_limit(MadeUp& m) {
  m.f.quality[2].noise_distortion_db = -16.0;  // the default limit
}
void noise_past_limit(MadeUp& m) {
  m.f.quality[2].noise_distortion_db = std::nextafter(-16.0, 0.0);
}
void clipped(MadeUp& m) {
  m.f.quality[0].clipped = 1;
}
void spread_at_limit(MadeUp& m) {
  m.e.step_range[4] = 1.5;  // 1 dB above the reference's 0.5
}
void spread_past_limit(MadeUp& m) {
  m.e.step_range[4] = std::nextafter(1.5, 2.0);
}
void ends_in_step_11(MadeUp& m) {
  m.e.diagnostics.aligned_samples = m.s.layout.settled[10].first + 100;
}
void noisy_step_11(MadeUp& m) {
  m.f.quality[10].noise_distortion_db = 0.0;
}
void no_usable_block(MadeUp& m) {
  m.e.failed = 1.0;
  m.e.diagnostics.causes = lumetra::kNoUsableBlock;
}
void alignment_failed(MadeUp& m) {
  m.e.failed = 1.0;
  m.e.diagnostics.copy = lumetra::Copy::kFailed;
  m.e.diagnostics.aligned_samples = 0;
  m.e.diagnostics.causes = lumetra::kNotLagging;
}
void silent_openings(MadeUp& m) {
  m.s.silent_opening = m.f.silent_recording = true;
}
void drifting(MadeUp& m) {  // 25 ppm: the delay shrinks by 0.1024 samples a run
  for (am::StepQuality& q : m.f.quality) {
    q.delay_change = -0.1024;
    q.weight = q.explained = 1.0;
  }
}
void nan_in_reference(MadeUp& m) {
  m.s.non_finite = {5000000, kNaN};
}
void inf_read(MadeUp& m) {  // the last sample of the aligned stretch
  m.f.recording_non_finite = {m.s.length + 999, kInf};
}
void inf_not_read(MadeUp& m) {
  m.f.recording_non_finite = {m.s.length + 1000, kInf};
}

TEST(AudiomeasureGain, VerdictRulesOverMadeUpEstimates) {
  constexpr std::uint32_t kNoise = 1u << AM_CAUSE_NOISE_DISTORTION;
  constexpr std::uint32_t kUncovered = 1u << AM_CAUSE_STEPS_NOT_COVERED;
  constexpr std::uint32_t kNotLagging = 1u << AM_CAUSE_NOT_LAGGING;
  constexpr std::uint32_t kNonFinite = 1u << AM_CAUSE_NON_FINITE_SAMPLES;
  struct Case {
    const char* what;
    std::vector<void (*)(MadeUp&)> changes;
    const char* verdict;
    std::uint32_t causes;
    std::uint32_t uncovered;
    std::uint32_t questionable;
  };
  const Case cases[] = {
      {"as made", {}, "trusted", 0, 0, 0},
      {"noise at the limit", {noise_at_limit}, "trusted", 0, 0, 0},
      {"noise past the limit", {noise_past_limit}, "questionable", kNoise, 0, 1u << 2},
      {"a clipped sample", {clipped}, "questionable", 1u << AM_CAUSE_CLIPPING, 0, 1u << 0},
      {"spread at the limit", {spread_at_limit}, "trusted", 0, 0, 0},
      {"spread past the limit",
       {spread_past_limit},
       "questionable",
       1u << AM_CAUSE_UNSTEADY,
       0,
       1u << 4},
      {"the recording ends in step 11", {ends_in_step_11}, "incomplete", kUncovered, 1u << 10, 0},
      {"incomplete before questionable; an uncovered step is not judged",
       {ends_in_step_11, noise_past_limit, noisy_step_11},
       "incomplete",
       kUncovered | kNoise,
       1u << 10,
       1u << 2},
      {"not trusted before incomplete, aligned",
       {no_usable_block, ends_in_step_11, noise_past_limit},
       "not_trusted",
       1u << AM_CAUSE_NO_USABLE_BLOCK | kUncovered | kNoise,
       1u << 10,
       1u << 2},
      {"not trusted, unaligned: nothing uncovered, nothing judged",
       {alignment_failed, noise_past_limit},
       "not_trusted",
       kNotLagging,
       0,
       0},
      {"not trusted, unaligned, silent and drifting",
       {alignment_failed, silent_openings, drifting},
       "not_trusted",
       kNotLagging | 1u << AM_CAUSE_SILENT_REFERENCE | 1u << AM_CAUSE_SILENT_RECORDING |
           1u << AM_CAUSE_CLOCK_DRIFT,
       0,
       0},
      {"a drift where the alignment stood explains nothing", {drifting}, "trusted", 0, 0, 0},
      {"non-finite before not trusted",
       {alignment_failed, nan_in_reference},
       "non_finite_samples",
       kNonFinite | kNotLagging,
       0,
       0},
      {"an infinity the measurement reads", {inf_read}, "non_finite_samples", kNonFinite, 0, 0},
      {"an infinity it does not read", {inf_not_read}, "trusted", 0, 0, 0},
  };
  am_gain_options options;
  am_gain_options_init(&options);
  for (const Case& c : cases) {
    MadeUp m = made_up();
    for (const auto change : c.changes) {
      change(m);
    }
    am_gain_report r;
    am_gain_report_init(&r);
    am::write_report(m.s, options, m.e, m.f, r);
    EXPECT_STREQ(am_verdict_name(r.verdict), c.verdict) << c.what;
    EXPECT_EQ(r.verdict_causes, c.causes) << c.what;
    EXPECT_EQ(r.uncovered_steps, c.uncovered) << c.what;
    EXPECT_EQ(r.questionable_steps, c.questionable) << c.what;
  }
}

// The step period read from the reference (auto), and the choice beside a
// period given: stimuli of either period; one that also holds 10 steps of
// 25.2 s; one whose level drops by 12 dB every other second (steady under
// neither); one tone throughout (steady under both). The whole-array check
// and its streaming form give the same bits.
TEST(AudiomeasureGain, TheReferenceTellsItsStepPeriod) {
  constexpr int k252 = AM_PERIOD_25_2;
  constexpr int k247 = AM_PERIOD_24_7;
  constexpr int kFits = AM_PERIOD_WARNING_NONE;
  constexpr int kUnclear = AM_PERIOD_WARNING_NO_CLEAR_FIT;
  constexpr int kOther = AM_PERIOD_WARNING_CONTRADICTED;
  constexpr int kOptions[3] = {AM_PERIOD_AUTO, k252, k247};
  struct Case {
    double period, last;  // the stimulus: its steps, its last step's length
    bool chopped, plain;
    double spreads[2];  // median step spreads at 25.2 s and 24.7 s, dB; NaN: not held
    double fitting;     // NaN: none clearly
    int measured[3];    // under each option: the period measured and the warning
    int warning[3];
  };
  const Case cases[] = {
      {25.2, 1.0, false, false, {0.0, 7.5}, 25.2, {k252, k252, k247}, {kFits, kFits, kOther}},
      {24.7, 1.0, false, false, {kNaN, 0.0}, 24.7, {k247, k252, k247}, {kFits, kOther, kFits}},
      {24.7, 6.0, false, false, {12.0, 0.0}, 24.7, {k247, k252, k247}, {kFits, kOther, kFits}},
      {25.2, 1.0, true, false, {12.04, 19.54}, kNaN, {k252, k252, k247}, {kUnclear, kFits, kFits}},
      {24.7, 1.0, true, false, {kNaN, 12.04}, kNaN, {k247, k252, k247}, {kUnclear, kFits, kFits}},
      {25.2, 1.0, false, true, {0.0, 0.0}, kNaN, {k252, k252, k247}, {kUnclear, kFits, kFits}},
  };
  for (const Case& c : cases) {
    stimulus::Stepped stepped;
    stepped.step_seconds = c.period;
    stepped.last_step_seconds = c.last;
    if (c.plain) {
      stepped.level_db.fill(-12.0);
      stepped.tone_hz.fill(1000.0);
    }
    std::vector<double> x = stimulus::stepped_reference(stepped);
    for (std::size_t i = 0; c.chopped && i < x.size(); ++i) {
      x[i] *= (i / 48000) % 2 == 0 ? 1.0 : 0.25;
    }
    const std::string what = std::to_string(x.size()) + " samples";
    const am::PeriodCheck check = am::check_step_period(x);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(check.layouts[i].held, !std::isnan(c.spreads[i])) << what;
      if (check.layouts[i].held) {
        EXPECT_NEAR(check.layouts[i].median_spread_db, c.spreads[i], 0.05) << what << " " << i;
      }
    }
    EXPECT_EQ(bits(check.fitting), bits(c.fitting)) << what;
    // The streaming form, fed in chunks of a prime size, gives the same bits.
    am::PeriodStream stream(static_cast<std::int64_t>(x.size()));
    for (std::size_t p = 0; p < x.size(); p += 65521) {
      stream.feed(
          std::span<const double>(x).subspan(p, std::min<std::size_t>(65521, x.size() - p)));
    }
    const am::PeriodCheck streamed = stream.finish();
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(bits(streamed.layouts[i].median_spread_db), bits(check.layouts[i].median_spread_db))
          << what;
    }
    EXPECT_EQ(bits(streamed.fitting), bits(check.fitting)) << what;
    for (int o = 0; o < 3; ++o) {
      const am::PeriodChoice p = am::choose_period(kOptions[o], check);
      EXPECT_EQ(p.period, c.measured[o]) << what << " option " << o;
      EXPECT_EQ(p.step_mode, c.measured[o] == k252 ? 0.0 : 1.0) << what;
      EXPECT_EQ(p.source, o == 0 ? AM_PERIOD_SOURCE_AUTO : AM_PERIOD_SOURCE_OPTION) << what;
      EXPECT_EQ(p.warning, c.warning[o]) << what << " option " << o;
    }
  }
}

TEST(AudiomeasureSnr, DemoGivesTheFixedBitsWholeStreamedAndAligned) {
  const synth::SnrScene scene = synth::speech_in_noise(48000.0, 20.0, 20.0, 1);
  const auto n = static_cast<std::int64_t>(scene.gate.size());
  const double fixed = fixed_snr(scene.gate, scene.measured, 48000.0);
  am_snr_report whole;
  ASSERT_EQ(host_snr(scene.gate.data(), n, scene.measured.data(), n, 48000.0, 0, 0, 0, &whole),
            AM_OK);
  EXPECT_EQ(bits(whole.snr_db), bits(fixed));
  EXPECT_NEAR(whole.snr_db, 20.0, 0.1);
  EXPECT_STREQ(am_verdict_name(whole.verdict), "finite");
  EXPECT_EQ(whole.lag, 0);

  // Side by side in equal chunks, and with the gate far ahead of the
  // measured signal.
  for (const auto& [gate_chunk, measured_chunk] : {std::pair{4096, 4096}, std::pair{50000, 777}}) {
    am_snr_report streamed;
    ASSERT_EQ(host_snr(scene.gate.data(), n, scene.measured.data(), n, 48000.0, 0, gate_chunk,
                       measured_chunk, &streamed),
              AM_OK);
    EXPECT_TRUE(same_bytes(streamed, whole)) << gate_chunk << " " << measured_chunk;
  }

  // The measured signal 10 ms late: found, and with align the pairs of the
  // unshifted demonstration, so its bits.
  std::vector<double> late(480, 0.0);
  late.insert(late.end(), scene.measured.begin(), scene.measured.end());
  for (std::int64_t chunk : {std::int64_t{0}, std::int64_t{3000}}) {
    am_snr_report aligned;
    ASSERT_EQ(host_snr(scene.gate.data(), n, late.data(), static_cast<std::int64_t>(late.size()),
                       48000.0, 1, chunk, chunk, &aligned),
              AM_OK);
    EXPECT_EQ(aligned.lag, 480);
    EXPECT_EQ(aligned.measured_first, 480);
    EXPECT_EQ(bits(aligned.snr_db), bits(fixed)) << chunk;
  }
}

// Every refusal a host can meet, each with the status that names it and
// nothing written.
TEST(AudiomeasureApi, RefusesBadArgumentsWithAStatus) {
  std::vector<double> x(48000, 1.0);
  const double* d = x.data();
  am_snr_options bad_align;
  am_snr_options_init(&bad_align);
  bad_align.align = 2;
  am_gain_options bad_period;
  am_gain_options_init(&bad_period);
  bad_period.step_period = 3;
  am_gain_options unset{};

  auto snr = [](const double* g, std::int64_t ng, const double* m, std::int64_t nm, double fs,
                const am_snr_options* o) {
    am_snr_report r;
    am_snr_report_init(&r);
    r.snr_db = 123.0;
    const int status = am_snr_measure(g, ng, m, nm, fs, o, &r);
    if (status != AM_OK) {
      EXPECT_EQ(r.snr_db, 123.0) << "a refusal wrote the report";
    }
    return status;
  };
  EXPECT_EQ(snr(d, 48000, d, 48000, 48000.0, nullptr), AM_OK);
  EXPECT_EQ(snr(nullptr, 10, d, 48000, 48000.0, nullptr), AM_ERR_NULL);
  EXPECT_EQ(snr(d, -1, d, 48000, 48000.0, nullptr), AM_ERR_LENGTH);
  // Past AM_MAX_SAMPLES (2^31 - 1, what a record of the fixed libraries
  // holds), refused before a sample is read.
  constexpr std::int64_t kPast = std::int64_t{AM_MAX_SAMPLES} + 1;
  EXPECT_EQ(snr(d, kPast, d, 48000, 48000.0, nullptr), AM_ERR_LENGTH);
  EXPECT_EQ(snr(d, 48000, d, kPast, 48000.0, nullptr), AM_ERR_LENGTH);
  for (double fs : {kNaN, kInf, -48000.0, 199.0, 0.0}) {
    EXPECT_EQ(snr(d, 48000, d, 48000, fs, nullptr), AM_ERR_RATE) << fs;
  }
  EXPECT_EQ(snr(d, 239, d, 48000, 48000.0, nullptr), AM_ERR_SHORT_GATE);
  EXPECT_EQ(snr(d, 48000, d, 47999, 48000.0, nullptr), AM_ERR_SHORT_MEASURED);
  EXPECT_EQ(snr(d, 48000, d, 48000, 48000.0, &bad_align), AM_ERR_OPTION);
  EXPECT_EQ(am_snr_measure(d, 48000, d, 48000, 48000.0, nullptr, nullptr), AM_ERR_NULL);
  am_snr_report unset_report{};
  EXPECT_EQ(am_snr_measure(d, 48000, d, 48000, 48000.0, nullptr, &unset_report),
            AM_ERR_STRUCT_SIZE);

  am_gain_report g;
  am_gain_report_init(&g);
  EXPECT_EQ(am_gain_measure(d, 48000, d, 48000, &bad_period, &g), AM_ERR_OPTION);
  EXPECT_EQ(am_gain_measure(d, 48000, d, 48000, &unset, &g), AM_ERR_STRUCT_SIZE);
  EXPECT_EQ(am_gain_measure(d, 48000, d, 48000, nullptr, &g), AM_ERR_SHORT_REFERENCE);
  EXPECT_EQ(am_gain_measure(nullptr, 1, d, 48000, nullptr, &g), AM_ERR_NULL);
  EXPECT_EQ(am_gain_measure(d, -5, d, 48000, nullptr, &g), AM_ERR_LENGTH);
  EXPECT_EQ(am_gain_measure(d, kPast, d, 48000, nullptr, &g), AM_ERR_LENGTH);
  EXPECT_EQ(am_gain_measure(d, 12576000, d, kPast, nullptr, &g), AM_ERR_LENGTH);
  EXPECT_EQ(am_gain_reference_minimum(AM_PERIOD_25_2), 12816000);
  EXPECT_EQ(am_gain_reference_minimum(AM_PERIOD_AUTO), 12576000);
  EXPECT_EQ(am_gain_reference_minimum(7), -1);

  // The streaming forms: wrong order, lengths that do not add up.
  am_gain_reference* ref = nullptr;
  EXPECT_EQ(am_gain_reference_create(nullptr, 12576000 - 1, &ref), AM_ERR_SHORT_REFERENCE);
  EXPECT_EQ(am_gain_reference_create(nullptr, kPast, &ref), AM_ERR_LENGTH);
  EXPECT_EQ(ref, nullptr);
  ASSERT_EQ(am_gain_reference_create(nullptr, 12576000, &ref), AM_OK);
  am_gain_measurement* m = nullptr;
  EXPECT_EQ(am_gain_create(ref, &m), AM_ERR_STATE);
  EXPECT_EQ(am_gain_reference_feed(ref, d, 48000), AM_OK);
  EXPECT_EQ(am_gain_reference_finish(ref), AM_ERR_REFERENCE_LENGTH);
  EXPECT_EQ(am_gain_reference_feed(ref, nullptr, 5), AM_ERR_NULL);
  EXPECT_EQ(am_gain_reference_feed(ref, d, 12576000), AM_ERR_LENGTH);
  am_gain_reference_destroy(ref);

  am_snr_measurement* s = nullptr;
  EXPECT_EQ(am_snr_create(nullptr, kNaN, &s), AM_ERR_RATE);
  ASSERT_EQ(am_snr_create(nullptr, 48000.0, &s), AM_OK);
  EXPECT_EQ(am_snr_feed_gate(s, d, kPast), AM_ERR_LENGTH);
  EXPECT_EQ(am_snr_feed_measured(s, d, kPast), AM_ERR_LENGTH);
  EXPECT_EQ(am_snr_feed_gate(s, d, 100), AM_OK);
  am_snr_report r;
  am_snr_report_init(&r);
  EXPECT_EQ(am_snr_finish(s, &r), AM_ERR_SHORT_GATE);
  EXPECT_EQ(am_snr_feed_gate(s, d, 47900), AM_OK);
  EXPECT_EQ(am_snr_finish(s, &r), AM_ERR_SHORT_MEASURED);
  EXPECT_EQ(am_snr_feed_measured(s, d, 48000), AM_OK);
  EXPECT_EQ(am_snr_finish(s, &r), AM_OK);
  EXPECT_EQ(am_snr_feed_measured(s, d, 1), AM_ERR_STATE);
  am_snr_destroy(s);
}

TEST(AudiomeasureApi, NamesAndTextsComeFromOneTable) {
  const std::pair<int, std::vector<int>> kinds[] = {
      {AM_ENUM_STATUS, {0, -1, -2, -3, -4, -5, -6, -7, -8, -9, -10, -11, -12, -13}},
      {AM_ENUM_VERDICT, {0, 1, 2, 3, 4, 5}},
      {AM_ENUM_CAUSE, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
      {AM_ENUM_SNR_REASON, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
  };
  for (const auto& [kind, values] : kinds) {
    std::vector<std::string> seen;
    for (int v : values) {
      const std::string name = am_enum_name(kind, v);
      EXPECT_NE(name, "unknown") << kind << " " << v;
      EXPECT_EQ(std::count(seen.begin(), seen.end(), name), 0) << name;
      EXPECT_STRNE(am_enum_text(kind, v), "unknown value");
      seen.push_back(name);
    }
  }
  EXPECT_STREQ(am_enum_name(AM_ENUM_CAUSE, AM_CAUSE_PEAK_NOT_PROMINENT), "peak_not_prominent");
  EXPECT_STREQ(am_enum_name(AM_ENUM_SNR_REASON, AM_SNR_NO_ACTIVE_FRAME), "no_active_frame");
  EXPECT_STREQ(am_status_text(AM_ERR_OUT_OF_MEMORY), am_enum_text(AM_ENUM_STATUS, -13));
  EXPECT_STREQ(am_verdict_name(42), "unknown");
  EXPECT_STREQ(am_enum_text(99, 0), "unknown value");
}

// A caller built against a later, longer report: the library writes its own
// fields and leaves the caller's tail alone.
TEST(AudiomeasureApi, ALongerReportKeepsItsTail) {
  struct Later {
    am_snr_report known;
    double added[4];
  } later;
  am_snr_report_init(&later.known);
  later.known.struct_size = sizeof later;
  for (double& v : later.added) {
    v = 7.0;
  }
  // A loud gate throughout: every frame active.
  std::vector<double> x(48000, 10000.0);
  ASSERT_EQ(am_snr_measure(x.data(), 48000, x.data(), 48000, 48000.0, nullptr, &later.known),
            AM_OK);
  EXPECT_EQ(later.known.struct_size, sizeof later);
  EXPECT_EQ(later.known.reason, AM_SNR_NO_INACTIVE_FRAME);
  for (double v : later.added) {
    EXPECT_EQ(v, 7.0);
  }
  // The layout hosts declare by hand (C#, MATLAB, LabVIEW): no padding.
  // Each struct's first version is a prefix of today's.
  static_assert(sizeof(am_gain_options) == 40 && sizeof(am_snr_options) == 8);
  static_assert(offsetof(am_gain_report, step_level) == 16);
  static_assert(offsetof(am_gain_report, uncovered_steps) == 736);
  static_assert(offsetof(am_gain_report, non_finite_position) == 904);
  static_assert(offsetof(am_gain_report, noise_distortion_db) == 920);
  static_assert(offsetof(am_gain_report, drift_ppm) == 1320 && sizeof(am_gain_report) == 1336);
  static_assert(offsetof(am_snr_report, lag) == 112);
  static_assert(offsetof(am_snr_report, lag_prominence) == 200 && sizeof(am_snr_report) == 216);
  static_assert(sizeof(am_gain_limits) == 464 && sizeof(am_snr_limits) == 24);
  static_assert(sizeof(am_judgement) == 40);
}

// Every allocation of a measurement refused in turn: a status, never a
// crash or a leak (the sanitizer build's leak checker sees the rest).
TEST(AudiomeasureApi, EveryAllocationFailureIsAStatus) {
  const synth::SnrScene scene = synth::speech_in_noise(16000.0, 5.0, 10.0, 3);
  const auto n = static_cast<std::int64_t>(scene.gate.size());
  for (std::int64_t chunk : {std::int64_t{0}, std::int64_t{1000}}) {
    int status = AM_ERR_OUT_OF_MEMORY;
    for (long k = 1; status == AM_ERR_OUT_OF_MEMORY && k < 100; ++k) {
      runtime::alloc_seam::reset();
      runtime::alloc_seam::fail_nth(k);
      am_snr_report r;
      status = host_snr(scene.gate.data(), n, scene.measured.data(), n, 16000.0, 1, chunk,
                        chunk / 2 + 1, &r);
      EXPECT_TRUE(status == AM_OK || status == AM_ERR_OUT_OF_MEMORY) << status;
    }
    runtime::alloc_seam::reset();
    EXPECT_EQ(status, AM_OK);
  }
}

}  // namespace
