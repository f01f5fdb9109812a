// SNR_estimation on several threads at once. The estimate keeps no static
// state, so concurrent calls must give the bits of the same calls made one
// after another. Also built with ThreadSanitizer (scripts/test-tsan), which
// reports any data race inside the library.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "quenbar.h"
#include "quenbar/snr.h"
#include "support/records.h"
#include "synth.h"

namespace {

using testing_support::bits;
using testing_support::Record;

constexpr int kThreads = 4;
constexpr int kCallsPerThread = 500;

struct Input {
  synth::SnrScene scene;
  double fs;
};

TEST(SnrThreads, ConcurrentEstimatesGiveTheSequentialBits) {
  SNR_estimation_initialize();
  // Each thread its own rate and signals, and one input shared by all (the
  // records are only read, so sharing them is allowed).
  const double rates[kThreads] = {8000.0, 16000.0, 44100.0, 48000.0};
  std::vector<Input> inputs;
  for (int t = 0; t < kThreads; ++t) {
    inputs.push_back(
        {synth::speech_in_noise(rates[t], 1.5, 6.0 + 4.0 * t, static_cast<std::uint64_t>(100 + t)),
         rates[t]});
  }
  std::vector<Record> gates;
  std::vector<Record> measured;
  for (Input& in : inputs) {
    gates.push_back(testing_support::column_wrapper(in.scene.gate));
    measured.push_back(testing_support::column_wrapper(in.scene.measured));
  }
  const int kShared = 0;

  std::vector<double> sequential(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    SNR_estimation(gates[t].get(), measured[t].get(), inputs[t].fs, &sequential[t], nullptr);
    // A finite estimate, so that a call that wrote nothing would show.
    ASSERT_TRUE(std::isfinite(sequential[t])) << rates[t];
  }

  // differing[t]: calls of thread t whose bits differed from the sequential
  // result of their input.
  std::vector<int> differing(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int call = 0; call < kCallsPerThread; ++call) {
        // Every fourth call on the shared input, the others on the thread's own.
        const int i = call % 4 == 3 ? kShared : t;
        double snr = 0.0;
        double extra = 1.0;
        if (call % 5 == 4) {
          // The internal estimate with the SSE2 table: ThreadSanitizer
          // follows its 16-byte loads (it does not look into the 32-byte
          // loads of the AVX2 table).
          const quenbar::kernels::Table& sse2 = *quenbar::kernels::for_isa(runtime::Isa::kSse2);
          snr = quenbar::estimate(gates[i].get(), measured[i].get(), inputs[i].fs, sse2);
          extra = 0.0;
        } else {
          SNR_estimation(gates[i].get(), measured[i].get(), inputs[i].fs, &snr, &extra);
        }
        differing[t] += bits(snr) != bits(sequential[i]) || bits(extra) != 0u;
      }
    });
  }
  for (std::thread& th : threads) {
    th.join();
  }
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(differing[t], 0) << "thread " << t;
  }
  SNR_estimation_terminate();
}

}  // namespace
