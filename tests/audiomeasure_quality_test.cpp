// Whether a reading is a reading of the device: the demonstration pair
// spoilt the ways a production line spoils it must come out questionable
// or worse, and changed the ways a healthy chain changes it must stay
// trusted; a drifting clock is measured and corrected; a device's limits
// are judged; an SNR lag beyond the search is not applied.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "audiomeasure.h"
#include "audiomeasure/resample.h"
#include "support/common.h"
#include "support/demo_pair.h"
#include "synth.h"

namespace {

using Signal = std::vector<double>;

am_gain_report measure(const Signal& reference, const Signal& recording, int drift_correct = 0) {
  am_gain_options options;
  am_gain_options_init(&options);
  options.drift_correct = drift_correct;
  am_gain_report r;
  am_gain_report_init(&r);
  EXPECT_EQ(
      am_gain_measure(reference.data(), static_cast<std::int64_t>(reference.size()),
                      recording.data(), static_cast<std::int64_t>(recording.size()), &options, &r),
      AM_OK);
  return r;
}

// A reproducible white noise of the given RMS (uniform values, scaled).
Signal noise(std::size_t n, double rms) {
  return testing_support::noise(n, rms * std::sqrt(3.0), 12345);
}

// A second-order Butterworth section (RBJ's biquad), high-pass or low-pass.
void biquad(Signal& x, double hz, bool high) {
  const double w = 2.0 * std::numbers::pi * hz / 48000.0;
  const double alpha = std::sin(w) / (2.0 * std::sqrt(0.5));
  const double c = std::cos(w);
  const double b0 = high ? (1.0 + c) / 2.0 : (1.0 - c) / 2.0;
  const double b1 = high ? -(1.0 + c) : 1.0 - c;
  const double a0 = 1.0 + alpha;
  const double a1 = -2.0 * c;
  const double a2 = 1.0 - alpha;
  double x1 = 0.0, x2 = 0.0, y1 = 0.0, y2 = 0.0;
  for (double& v : x) {
    const double y = (b0 * v + b1 * x1 + b0 * x2 - a1 * y1 - a2 * y2) / a0;
    x2 = x1;
    x1 = v;
    y2 = y1;
    y1 = y;
    v = y;
  }
}

// Recording positions of step k's settled half (k from 0) in the demo pair.
std::int64_t settled_start(const am_gain_report& r, int k) {
  return r.step_start[k] + r.step_samples[k] - (r.step_samples[k] + 1) / 2 + r.delay;
}

// The demonstration pair with a second of the device's noise after the
// stimulus, as a recording that runs on past it: a change that moves the
// recording by a sample (a filter's delay, a converted rate) leaves every
// step inside it.
struct Padded {
  const Signal& reference;
  Signal recording;
};
const Padded& padded() {
  static const Padded* p = [] {
    const testing_support::DemoPair& demo = testing_support::demo_pair();
    auto* padded = new Padded{demo.reference, demo.recording};
    const Signal tail = noise(48000, 3.3);
    padded->recording.insert(padded->recording.end(), tail.begin(), tail.end());
    return padded;
  }();
  return *p;
}

TEST(AudiomeasureQuality, SpoiltRecordingsAreQuestionableAndHealthyOnesTrusted) {
  const Padded& p = padded();
  const am_gain_report clean = measure(p.reference, p.recording);
  ASSERT_STREQ(am_verdict_name(clean.verdict), "trusted");
  for (double nd : clean.noise_distortion_db) {
    EXPECT_LT(nd, -40.0);
  }
  EXPECT_LT(std::fabs(clean.drift_ppm), 0.5);

  struct Case {
    const char* name;
    std::function<void(Signal&)> change;
    const char* verdict;
    std::uint32_t causes;  // expected among verdict_causes
    bool same_levels;      // the change leaves the device's levels as they were
  };
  const std::int64_t step3 = settled_start(clean, 2);
  const std::int64_t step5 = settled_start(clean, 4);
  const Case cases[] = {
      {"restart: 2 s of silence, the first 20 s, then all again",
       [](Signal& r) {
         Signal restarted(96000, 0.0);
         restarted.insert(restarted.end(), r.begin(), r.begin() + 20 * 48000);
         restarted.insert(restarted.end(), r.begin(), r.end());
         r = restarted;
       },
       "questionable", 1u << AM_CAUSE_NOISE_DISTORTION, false},
      {"dropout: 2 s of silence in step 3's measured half",
       [&](Signal& r) { std::fill_n(r.begin() + step3 + 100000, 96000, 0.0); },
       // Each 85 ms run is fitted on its own: the silence is a level that
       // moves, not noise.
       "questionable", 1u << AM_CAUSE_UNSTEADY, false},
      {"clipping: twice as loud, cut at full scale",
       [](Signal& r) {
         for (double& v : r) {
           v = std::clamp(std::round(2.0 * v), -32768.0, 32767.0);
         }
       },
       "questionable", 1u << AM_CAUSE_CLIPPING, false},
      {"a DC offset of 300",
       [](Signal& r) {
         for (double& v : r) {
           v += 300.0;
         }
       },
       "questionable", 1u << AM_CAUSE_NOISE_DISTORTION, false},
      {"a 6 dB gain jump inside step 5",
       [&](Signal& r) {
         for (std::int64_t i = step5 + 300000; i < step5 + 600000; ++i) {
           r[static_cast<std::size_t>(i)] *= 2.0;
         }
       },
       "questionable", 1u << AM_CAUSE_UNSTEADY, false},
      {"white noise at -20 dB re full scale",
       [](Signal& r) {
         const Signal n = noise(r.size(), 3276.7);
         for (std::size_t i = 0; i < r.size(); ++i) {
           r[i] += n[i];
         }
       },
       "questionable", 1u << AM_CAUSE_NOISE_DISTORTION, false},
      {"a gentle band-pass, 20 Hz to 12 kHz",
       [](Signal& r) {
         biquad(r, 20.0, true);
         biquad(r, 12000.0, false);
       },
       "trusted", 0, false},
      {"inverted polarity",
       [](Signal& r) {
         for (double& v : r) {
           v = -v;
         }
       },
       "trusted", 0, true},
      {"a 24-bit copy",
       [](Signal& r) {
         for (double& v : r) {
           v = std::round(v / 32767.0 * 8388608.0) / 8388608.0 * 32767.0;
         }
       },
       "trusted", 0, true},
      {"a float copy",
       [](Signal& r) {
         for (double& v : r) {
           v = static_cast<double>(static_cast<float>(v / 32767.0)) * 32767.0;
         }
       },
       "trusted", 0, true},
  };
  for (const Case& c : cases) {
    Signal recording = p.recording;
    c.change(recording);
    const am_gain_report r = measure(p.reference, recording);
    EXPECT_STREQ(am_verdict_name(r.verdict), c.verdict) << c.name;
    EXPECT_EQ(r.verdict_causes & c.causes, c.causes) << c.name << ": " << r.verdict_causes;
    if (c.causes == 0) {
      EXPECT_EQ(r.questionable_steps, 0u) << c.name;
    }
    if (c.same_levels) {
      for (int k = 0; k < AM_STEPS; ++k) {
        EXPECT_NEAR(r.gain[k], clean.gain[k], 0.05) << c.name << " step " << k + 1;
      }
    }
  }
}

TEST(AudiomeasureQuality, ClockDriftIsMeasuredAndCorrected) {
  const Padded& p = padded();
  const am_gain_report clean = measure(p.reference, p.recording);
  for (double ppm : {100.0, -100.0, 200.0}) {
    // Sped up by 1 + ppm / 1e6: read at m times that, the conversion's
    // inverse.
    runtime::Buffer<double> drifted;
    ASSERT_TRUE(am::convert_by_speed(p.recording.data(),
                                     static_cast<std::int64_t>(p.recording.size()),
                                     1.0 / (1.0 + ppm * 1e-6), drifted));
    const Signal recording(drifted.data(), drifted.data() + drifted.size());
    const am_gain_report r = measure(p.reference, recording);
    EXPECT_NEAR(r.drift_ppm, ppm, 0.1 * std::fabs(ppm)) << ppm;
    if (r.failed != 0.0) {
      EXPECT_NE(r.verdict_causes & 1u << AM_CAUSE_CLOCK_DRIFT, 0u) << ppm;
    }
    const am_gain_report corrected = measure(p.reference, recording, 1);
    EXPECT_EQ(corrected.drift_corrected, 1) << ppm;
    EXPECT_EQ(corrected.drift_ppm, r.drift_ppm) << ppm;
    EXPECT_STREQ(am_verdict_name(corrected.verdict), "trusted") << ppm;
    for (int k = 0; k < AM_STEPS; ++k) {
      EXPECT_NEAR(corrected.gain[k], clean.gain[k], 0.02) << ppm << " step " << k + 1;
    }
  }
}

TEST(AudiomeasureLimits, EachCheckJudgesItsFigure) {
  am_gain_report r;
  am_gain_report_init(&r);
  for (int k = 0; k < AM_STEPS; ++k) {
    r.gain[k] = 0.5 * k - 2.0;  // -2 .. 3
    r.step_range[k] = 0.2;
    r.noise_distortion_db[k] = -50.0;
    r.clipped_samples[k] = 0;
    r.step_samples[k] = 1000;
    r.coverage[k] = 1.0;
  }
  r.total_delay = 12345.0;
  r.drift_ppm = std::numeric_limits<double>::quiet_NaN();
  am_gain_limits limits;
  am_gain_limits_init(&limits);
  am_judgement j;
  am_judgement_init(&j);
  ASSERT_EQ(am_gain_judge(&r, &limits, &j), AM_OK);
  EXPECT_EQ(j.outcome, AM_LIMITS_PASS) << "no bounds, no failure";

  std::fill_n(limits.gain_min_db, AM_STEPS, -4.0);
  std::fill_n(limits.gain_max_db, AM_STEPS, 4.0);
  limits.gain_max_db[8] = 1.5;  // step 9's gain is 2.0
  limits.delay_max_samples = 12345.0;
  ASSERT_EQ(am_gain_judge(&r, &limits, &j), AM_OK);
  EXPECT_EQ(j.outcome, AM_LIMITS_FAIL);
  EXPECT_EQ(j.failed_checks, 1u << AM_CHECK_GAIN);
  EXPECT_EQ(j.failed_steps[AM_CHECK_GAIN], 1u << 8);

  limits.drift_max_ppm = 50.0;  // a drift that could not be measured fails its bound
  r.step_samples[8] = 0;        // a step without a settled half is not judged
  ASSERT_EQ(am_gain_judge(&r, &limits, &j), AM_OK);
  EXPECT_EQ(j.failed_checks, 1u << AM_CHECK_DRIFT);

  limits.gain_min_db[0] = 5.0;  // above its maximum
  EXPECT_EQ(am_gain_judge(&r, &limits, &j), AM_ERR_OPTION);

  am_snr_report s;
  am_snr_report_init(&s);
  s.snr_db = 14.9;
  am_snr_limits snr_limits;
  am_snr_limits_init(&snr_limits);
  snr_limits.snr_min_db = 15.0;
  ASSERT_EQ(am_snr_judge(&s, &snr_limits, &j), AM_OK);
  EXPECT_EQ(j.failed_checks, 1u << AM_CHECK_SNR);
  s.snr_db = 15.0;
  ASSERT_EQ(am_snr_judge(&s, &snr_limits, &j), AM_OK);
  EXPECT_EQ(j.outcome, AM_LIMITS_PASS) << "bounds are inclusive";
}

TEST(AudiomeasureSnrLag, ALateFileIsFoundAndALagBeyondTheSearchIsNotApplied) {
  const synth::SnrScene scene = synth::speech_in_noise(48000.0, 20.0, 20.0, 1);
  const auto n = static_cast<std::int64_t>(scene.gate.size());
  am_snr_options aligned;
  am_snr_options_init(&aligned);
  aligned.align = 1;
  am_snr_report demo;
  am_snr_report_init(&demo);
  ASSERT_EQ(am_snr_measure(scene.gate.data(), n, scene.measured.data(), n, 48000.0, nullptr, &demo),
            AM_OK);
  EXPECT_EQ(demo.lag_reliable, 1);
  for (double seconds : {2.0, 7.0}) {
    Signal late(static_cast<std::size_t>(seconds * 48000.0), 0.0);
    late.insert(late.end(), scene.measured.begin(), scene.measured.end());
    const auto m = static_cast<std::int64_t>(late.size());
    am_snr_report r;
    am_snr_report_init(&r);
    ASSERT_EQ(am_snr_measure(scene.gate.data(), n, late.data(), m, 48000.0, nullptr, &r), AM_OK);
    const int status = am_snr_measure(scene.gate.data(), n, late.data(), m, 48000.0, &aligned, &r);
    if (seconds <= AM_SNR_LAG_MAX_S) {
      EXPECT_EQ(r.lag, 96000);
      EXPECT_EQ(r.lag_reliable, 1);
      ASSERT_EQ(status, AM_OK);
      EXPECT_NEAR(r.snr_db, demo.snr_db, 0.1);
    } else {
      EXPECT_EQ(r.lag_reliable, 0);
      EXPECT_LT(r.lag_prominence, AM_SNR_LAG_PROMINENCE);
      EXPECT_EQ(status, AM_ERR_UNRELIABLE_LAG);
    }
  }
}

}  // namespace
