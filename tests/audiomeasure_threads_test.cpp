// The hosts' library on two threads at once, each with its own
// measurements: the bits one thread gets (audiomeasure_test.cpp proves those
// are the fixed libraries'). Also built with ThreadSanitizer
// (scripts/test-tsan), which reports any data race inside the library, the
// shared tables built by the first measurements included.
#include <gtest/gtest.h>

#include <thread>

#include "audiomeasure.h"
#include "audiomeasure_host.h"
#include "support/demo_pair.h"
#include "synth.h"

namespace {

using testing_support::same_bytes;

TEST(AudiomeasureThreads, TwoGainMeasurementsAtOnceGiveTheBitsOfOne) {
  const testing_support::DemoPair& p = testing_support::demo_pair();
  const auto n_ref = static_cast<std::int64_t>(p.reference.size());
  const auto n_rec = static_cast<std::int64_t>(p.recording.size());
  // Both threads first, so that they build the shared tables together; one
  // whole-array call and one streamed.
  am_gain_report concurrent[2];
  int status[2] = {-1, -1};
  std::thread a([&] {
    status[0] = host_gain(p.reference.data(), n_ref, p.recording.data(), n_rec, AM_PERIOD_AUTO, 0,
                          &concurrent[0]);
  });
  std::thread b([&] {
    status[1] = host_gain(p.reference.data(), n_ref, p.recording.data(), n_rec, AM_PERIOD_AUTO,
                          262144, &concurrent[1]);
  });
  a.join();
  b.join();
  am_gain_report alone;
  ASSERT_EQ(
      host_gain(p.reference.data(), n_ref, p.recording.data(), n_rec, AM_PERIOD_AUTO, 0, &alone),
      AM_OK);
  EXPECT_STREQ(am_verdict_name(alone.verdict), "trusted");
  for (int t = 0; t < 2; ++t) {
    ASSERT_EQ(status[t], AM_OK);
    EXPECT_TRUE(same_bytes(concurrent[t], alone)) << t;
  }
}

TEST(AudiomeasureThreads, TwoSnrMeasurementsAtOnceGiveTheBitsOfOne) {
  const synth::SnrScene scene = synth::speech_in_noise(48000.0, 20.0, 20.0, 1);
  const auto n = static_cast<std::int64_t>(scene.gate.size());
  am_snr_report alone;
  ASSERT_EQ(host_snr(scene.gate.data(), n, scene.measured.data(), n, 48000.0, 1, 0, 0, &alone),
            AM_OK);
  am_snr_report concurrent[2];
  std::thread a([&] {
    host_snr(scene.gate.data(), n, scene.measured.data(), n, 48000.0, 1, 0, 0, &concurrent[0]);
  });
  std::thread b([&] {
    host_snr(scene.gate.data(), n, scene.measured.data(), n, 48000.0, 1, 8192, 8192,
             &concurrent[1]);
  });
  a.join();
  b.join();
  EXPECT_TRUE(same_bytes(concurrent[0], alone));
  EXPECT_TRUE(same_bytes(concurrent[1], alone));
}

}  // namespace
