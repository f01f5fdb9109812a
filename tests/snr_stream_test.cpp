// quenbar::Stream, the estimate formed chunk by chunk, against the estimate
// on the whole arrays: the same bits, every field of the diagnostics and the
// reason, for every chunking (one sample, odd sizes, a frame, a block of
// frames, the whole signal) and every kernel table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "quenbar/kernels.h"
#include "quenbar/snr.h"
#include "quenbar/stream.h"
#include "runtime/dispatch.h"
#include "support/records.h"
#include "synth.h"

namespace {

using namespace testing_support;

struct Case {
  std::string what;
  std::vector<double> gate;
  std::vector<double> measured;
  double fs;
};

// Speech in noise at three rates (an odd tail after the last whole frame),
// and the degenerate inputs: rates refused or extreme, non-finite gate
// samples, a measured signal silent in the inactive frames, no whole frame.
std::vector<Case> cases() {
  std::vector<Case> c;
  for (const double fs : {48000.0, 44100.0, 8000.0}) {
    synth::SnrScene s = synth::speech_in_noise(fs, 3.0, 25.0, 7);
    for (int k = 0; k < 17; ++k) {
      s.gate.push_back(1000.0);
      s.measured.push_back(3.0);
    }
    c.push_back({"speech at " + std::to_string(fs), s.gate, s.measured, fs});
  }
  const synth::SnrScene s = synth::speech_in_noise(8000.0, 0.5, 10.0, 8);
  for (const double fs : {0.0, -8000.0, 199.0, kNaN, kInf, 200.0, 1e300}) {
    c.push_back({"rate " + std::to_string(fs), s.gate, s.measured, fs});
  }
  Case with_nan{"NaN gate sample", s.gate, s.measured, 8000.0};
  with_nan.gate[1234] = kNaN;
  Case with_inf{"infinite measured sample", s.gate, s.measured, 8000.0};
  with_inf.measured[2345] = -kInf;
  Case silent{"silent noise", s.gate, s.measured, 8000.0};
  for (std::size_t k = 0; k < silent.gate.size(); ++k) {
    if (silent.gate[k] == 0.0) {
      silent.measured[k] = 0.0;
    }
  }
  c.push_back(with_nan);
  c.push_back(with_inf);
  c.push_back(silent);
  c.push_back({"gate shorter than a frame",
               std::vector<double>(s.gate.begin(), s.gate.begin() + 39),
               std::vector<double>(s.measured.begin(), s.measured.begin() + 39), 8000.0});
  return c;
}

// The estimate and every field of its diagnostics, as same_result compares.
std::vector<double> fields(const quenbar::Estimate& e) {
  const quenbar::Diagnostics& d = e.diagnostics;
  return {
      e.snr_db,          d.frame_length,     d.frame_count,        d.active_frames,
      d.activity_factor, d.active_power_sum, d.inactive_power_sum, d.noise_power,
      d.signal_power,    d.noise_power_db,   d.signal_power_db,    static_cast<double>(d.reason)};
}

void expect_same(const quenbar::Estimate& got, const quenbar::Estimate& want,
                 const std::string& what) {
  EXPECT_EQ(testing_support::first_difference(fields(got), fields(want), false), -1) << what;
}

TEST(SnrStream, EveryChunkingGivesTheWholeArrayBits) {
  for (const Case& c : cases()) {
    const auto g = column(c.gate);
    const auto m = column(c.measured);
    const double L = quenbar::frame_length(c.fs);
    const std::size_t frame =
        quenbar::usable_frame_length(L) && L < 1e9 ? static_cast<std::size_t>(L) : std::size_t{3};
    const std::size_t block = quenbar::kBlockFrames * frame;
    for (const quenbar::kernels::Table* table :
         testing_support::runnable(quenbar::kernels::for_isa)) {
      const quenbar::Estimate want =
          quenbar::estimate_with_diagnostics(g.get(), m.get(), c.fs, *table);
      for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{241}, frame,
                                      block, block + 3, c.gate.size()}) {
        quenbar::Stream stream(c.fs, *table);
        for (std::size_t at = 0; at < c.gate.size(); at += chunk) {
          const std::size_t n = std::min(chunk, c.gate.size() - at);
          stream.feed(std::span(c.gate).subspan(at, n), std::span(c.measured).subspan(at, n));
        }
        EXPECT_EQ(stream.samples(), static_cast<std::int64_t>(c.gate.size()));
        expect_same(
            stream.finish(), want,
            c.what + ", " + runtime::isa_name(table->isa) + ", chunks of " + std::to_string(chunk));
      }
    }
  }
  // Chunks of unequal lengths are refused as unreadable input.
  quenbar::Stream stream(8000.0);
  const std::vector<double> three(3, 1.0);
  stream.feed(three, std::span(three).first(2));
  EXPECT_EQ(stream.finish().diagnostics.reason, quenbar::Reason::kBadInput);
  EXPECT_TRUE(std::isnan(stream.finish().snr_db));
}

}  // namespace
