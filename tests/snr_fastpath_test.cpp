// The library's estimate (frames summed several at a time, in SIMD lanes)
// against the straightforward reference path: the same bits on random,
// adversarial and odd-length inputs at many rates, with every kernel.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "quenbar.h"
#include "quenbar/kernels.h"
#include "quenbar/snr.h"
#include "runtime/dispatch.h"
#include "support/records.h"
#include "support/snr_reference.h"
#include "synth.h"

namespace {

using namespace testing_support;

// The kernel tables this processor can run.
const std::vector<const quenbar::kernels::Table*> kTables =
    testing_support::runnable(quenbar::kernels::for_isa);

// Values that stress the sums: huge (squares overflow), tiny (squares
// underflow or are subnormal), signed zeros, NaNs of both signs, infinities.
double adversarial(std::mt19937_64& rng) {
  static const double specials[] = {1e154,   -1e200, DBL_MAX,  1e-160, -1e-170, DBL_TRUE_MIN,
                                    -0.0,    0.0,    kNaN,     -kNaN,  kInf,    -kInf,
                                    32767.0, 1e-3,   10.36183, 1e16};
  return specials[rng() % (sizeof specials / sizeof specials[0])];
}

TEST(FrameSums, EveryKernelGivesTheBitsOfTheOneFrameLoop) {
  std::mt19937_64 rng(17);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::uniform_int_distribution<int> exponent(-40, 40);
  for (std::size_t len = 1; len <= 21; ++len) {
    for (std::size_t count = 0; count <= 13; ++count) {
      // Exactly count * len samples on the heap: a read past them is caught
      // by the address sanitizer.
      std::vector<double> g(count * len);
      std::vector<double> m(count * len);
      for (std::size_t k = 0; k < g.size(); ++k) {
        g[k] = rng() % 16 == 0 ? adversarial(rng) : std::ldexp(normal(rng), exponent(rng));
        m[k] = rng() % 16 == 0 ? adversarial(rng) : std::ldexp(normal(rng), exponent(rng));
      }
      std::vector<double> want_g(count);
      std::vector<double> want_m(count);
      for (std::size_t j = 0; j < count; ++j) {
        double acc_g = g[j * len] * g[j * len];
        double acc_m = m[j * len] * m[j * len];
        for (std::size_t k = 1; k < len; ++k) {
          acc_g += g[j * len + k] * g[j * len + k];
          acc_m += m[j * len + k] * m[j * len + k];
        }
        want_g[j] = acc_g;
        want_m[j] = acc_m;
      }
      for (const quenbar::kernels::Table* t : kTables) {
        const char* name = runtime::isa_name(t->isa);
        want_g.push_back(42.0);  // one sentinel past the end, left alone
        want_m.push_back(42.0);
        std::vector<double> got_g(count + 1, 42.0);
        std::vector<double> got_m(count + 1, 42.0);
        t->frame_sums(g.data(), m.data(), len, count, got_g.data(), got_m.data());
        ASSERT_EQ(first_difference(got_g, want_g, false), -1) << name << " len " << len;
        ASSERT_EQ(first_difference(got_m, want_m, false), -1) << name << " len " << len;
        want_g.pop_back();
        want_m.pop_back();
      }
    }
  }
}

TEST(FrameSums, TheBestTableIsTheWidestThatRuns) {
  const std::vector<const quenbar::kernels::Table*>& t = kTables;
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.front()->isa, runtime::Isa::kSse2);
  EXPECT_EQ(&quenbar::kernels::best(), t.back());
  EXPECT_EQ(t.size(), runtime::cpu_has_avx2() ? 2u : 1u);
}

// Each kernel and the exported entry point against the reference path.
void expect_same_as_reference(const std::vector<double>& gate, const std::vector<double>& measured,
                              double fs, const std::string& what) {
  Record g = column(gate);
  Record m = column(measured);
  const double want = reference::snr(g.get(), m.get(), fs).snr_db;
  for (const quenbar::kernels::Table* t : kTables) {
    const double got = quenbar::estimate(g.get(), m.get(), fs, *t);
    ASSERT_TRUE(same_result(got, want))
        << what << ", " << runtime::isa_name(t->isa) << ": " << got << " vs " << want << " (bits "
        << std::hex << bits(got) << " vs " << bits(want) << ")";
  }
  double exported = 0.0;
  double extra = 1.0;
  SNR_estimation(g.get(), m.get(), fs, &exported, &extra);
  ASSERT_TRUE(same_result(exported, want)) << what << ", SNR_estimation";
  ASSERT_EQ(bits(extra), 0u);
}

// Frames of random level (-130 to +10 dB), in runs, over noise of random
// power; a frame length's worth of extra samples on odd lengths.
struct Generator {
  std::mt19937_64 rng;
  explicit Generator(std::uint64_t seed) : rng(seed) {}

  void fill(std::vector<double>& gate, std::vector<double>& measured, std::size_t n, std::size_t L,
            int special_per_mille) {
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> level(-130.0, 10.0);
    std::uniform_real_distribution<double> noise_db(-40.0, 0.0);
    gate.assign(n, 0.0);
    measured.assign(n, 0.0);
    double amplitude = 0.0;
    const double noise = std::pow(10.0, noise_db(rng) / 20.0) * 100.0;
    for (std::size_t k = 0; k < n; ++k) {
      if (k % L == 0 && rng() % 4 == 0) {  // a new run starts at a quarter of the frames
        amplitude = rng() % 3 == 0 ? 0.0 : 32767.0 * std::pow(10.0, level(rng) / 20.0);
      }
      gate[k] = amplitude * normal(rng);
      measured[k] = gate[k] + noise * normal(rng);
      if (static_cast<int>(rng() % 1000) < special_per_mille) {
        (rng() % 2 == 0 ? gate : measured)[k] = adversarial(rng);
      }
    }
  }
};

TEST(FastPath, MatchesTheReferenceAtManyRatesAndLengths) {
  const double rates[] = {8000.0,  44100.0, 48000.0, 200.0,     201.0,  399.99,
                          11025.0, 22050.0, 96000.0, 12345.678, 7999.0, 1000.0};
  Generator gen(1);
  std::vector<double> gate;
  std::vector<double> measured;
  for (double fs : rates) {
    const auto L = static_cast<std::size_t>(std::floor(0.005 * fs));
    // Frame counts around the kernels' groups (2, 4) and the 64-frame blocks.
    for (std::size_t frames : {0, 1, 2, 3, 4, 5, 7, 63, 64, 65, 129, 300}) {
      for (std::size_t extra : {std::size_t{0}, L - 1, L / 2 + 1}) {
        const std::size_t n = frames * L + extra;
        gen.fill(gate, measured, n, L, 0);
        expect_same_as_reference(gate, measured, fs,
                                 "fs " + std::to_string(fs) + ", n " + std::to_string(n));
      }
    }
  }
}

TEST(FastPath, MatchesTheReferenceOnAdversarialInput) {
  Generator gen(2);
  std::vector<double> gate;
  std::vector<double> measured;
  for (double fs : {200.0, 8000.0, 44100.0, 48000.0, 12345.678}) {
    const auto L = static_cast<std::size_t>(std::floor(0.005 * fs));
    for (int per_mille : {1, 10, 100}) {
      for (int round = 0; round < 4; ++round) {
        gen.fill(gate, measured, 97 * L + 3, L, per_mille);
        expect_same_as_reference(
            gate, measured, fs,
            "fs " + std::to_string(fs) + ", specials " + std::to_string(per_mille) + "/1000");
      }
    }
  }
  // Runs of frames at exactly -70 dB, and just above, at one sample a frame.
  const double tie = reference::gate_sample_at(-70.0);
  std::mt19937_64 rng(4);
  for (int round = 0; round < 20; ++round) {
    gate.clear();
    measured.clear();
    for (int k = 0; k < 500; ++k) {
      const unsigned pick = rng() % 5;
      gate.push_back(pick == 0   ? 0.0
                     : pick == 1 ? 3000.0
                     : pick == 2 ? std::nextafter(tie, kInf)
                                 : tie);
      measured.push_back(static_cast<double>(rng() % 100));
    }
    expect_same_as_reference(gate, measured, 200.0, "ties at -70");
  }
}

// One long input, shared: a minute of speech-like bursts in noise at 48 kHz.
TEST(FastPath, MatchesTheReferenceOnAMinuteOfSpeechInNoise) {
  const synth::SnrScene scene = synth::speech_in_noise(48000.0, 60.0, 15.0, 99);
  expect_same_as_reference(scene.gate, scene.measured, 48000.0, "one minute at 48 kHz");
  expect_same_as_reference(scene.gate, scene.measured, 44100.0, "the same taken as 44.1 kHz");
}

}  // namespace
