// The estimate against a known truth: speech-like bursts (the gate) and the
// same bursts plus independent white noise (the measured signal), mixed at a
// chosen SNR: the burst's mean power over the noise variance.
//
// Tolerance, 0.2 dB: frames that straddle a burst's edge count as active
// while partly silent, which lowers the measured signal power by about half a
// frame per edge, 5 ms in a mean burst of 310 ms (-0.07 dB); the sampling
// error of the noise power over some 10^5 to 10^6 inactive samples and of the
// signal-noise cross term is about 0.02 dB (three of those: 0.06 dB).
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "quenbar.h"
#include "support/records.h"
#include "synth.h"

namespace {

using testing_support::column;
using testing_support::Record;

constexpr double kToleranceDb = 0.2;

double estimate(const synth::SnrScene& scene, double fs) {
  Record g = column(scene.gate);
  Record m = column(scene.measured);
  double snr = 0.0;
  double extra = 1.0;
  SNR_estimation(g.get(), m.get(), fs, &snr, &extra);
  EXPECT_EQ(extra, 0.0);
  return snr;
}

TEST(SnrSynthetic, EstimateLandsNearTheKnownSnr) {
  struct Case {
    double fs;
    double snr_db;
  };
  const Case cases[] = {{48000.0, 0.0},  {48000.0, 10.0}, {48000.0, 20.0}, {48000.0, 30.0},
                        {48000.0, 40.0}, {44100.0, 5.0},  {16000.0, 25.0}, {8000.0, 15.0}};
  std::uint64_t seed = 1000;
  for (const Case& c : cases) {
    const synth::SnrScene scene = synth::speech_in_noise(c.fs, 20.0, c.snr_db, seed++);
    ASSERT_EQ(scene.snr_db, c.snr_db);
    EXPECT_NEAR(estimate(scene, c.fs), c.snr_db, kToleranceDb) << "fs " << c.fs;
  }
}

}  // namespace
