// The coarse alignment, called directly: its faults rarely show in the
// estimation's outputs. Every case runs the SSE2 and (where the machine has
// it) the AVX2 kernels and the straightforward path, and demands identical
// bits from all of them.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "lumetra/estimation.h"
#include "lumetra/kernels.h"
#include "support/common.h"
#include "support/lumetra_straight.h"

namespace {

using lumetra::kSpan;
using namespace testing_support;

struct Coarse {
  lumetra::Onsets onsets;
  double delay;
  double too_large;
  std::vector<double> moved;  // b_sig_tmp
};

void expect_same(const Coarse& fast, const Coarse& slow, const char* what) {
  EXPECT_EQ(fast.onsets.reference, slow.onsets.reference) << what;
  EXPECT_EQ(fast.onsets.recording, slow.onsets.recording) << what;
  EXPECT_EQ(bits(fast.delay), bits(slow.delay)) << what;
  EXPECT_EQ(bits(fast.too_large), bits(slow.too_large)) << what;
  EXPECT_EQ(first_difference(fast.moved, slow.moved), -1) << what;
}

Coarse fast_align(const std::vector<double>& reference, const std::vector<double>& sig_tmp,
                  const lumetra::kernels::Table& kernels) {
  Coarse c{};
  // Poison the output: every position must be written.
  c.moved.assign(kSpan, 12345.0);
  c.onsets = lumetra::crude_align(reference, &c.delay, &c.too_large,
                                  std::span<const double, kSpan>(sig_tmp.data(), kSpan),
                                  std::span<double, kSpan>(c.moved.data(), kSpan), kernels);
  return c;
}

// The fast alignment, after proving it bit-identical on every kernel table
// and to the straightforward path.
Coarse align(const std::vector<double>& reference, const std::vector<double>& sig_tmp) {
  EXPECT_EQ(sig_tmp.size(), static_cast<std::size_t>(kSpan));
  Coarse slow{};
  slow.moved.assign(kSpan, -1.0);
  slow.onsets =
      straight::crude_align(reference.data(), static_cast<std::int64_t>(reference.size()),
                            &slow.delay, &slow.too_large, sig_tmp.data(), slow.moved.data());
  Coarse base{};
  for (const lumetra::kernels::Table* t : testing_support::runnable(lumetra::kernels::for_isa)) {
    const Coarse fast = fast_align(reference, sig_tmp, *t);
    expect_same(
        fast, slow,
        (std::string(runtime::isa_name(t->isa)) + " against the straightforward path").c_str());
    if (t->isa == runtime::Isa::kSse2) {
      base = fast;
    }
  }
  return base;
}

std::vector<double> constant(std::size_t n, double v) {
  return std::vector<double>(n, v);
}

// 0.0 at positions below `from`, v from there on.
std::vector<double> step_up(std::size_t n, std::size_t from, double v) {
  std::vector<double> x(n, 0.0);
  for (std::size_t i = from; i < n; ++i) {
    x[i] = v;
  }
  return x;
}

std::vector<double> with(std::vector<double> x, std::size_t at, double v) {
  x[at] = v;
  return x;
}

// The onsets, the delay, its flag, and b_sig_tmp: sig_tmp moved later by the
// delay (earlier when negative), zeros where nothing lands. Frames are 241
// samples every 240; the reference's are active above -50 dB re 1.0, the
// recording's above its own level less 12 dB.
TEST(CrudeAlign, OnsetsDelayAndTheMovedRecording) {
  using Make = std::vector<double> (*)();
  struct Case {
    const char* what;
    Make reference;
    Make rec;
    std::int32_t reference_onset;
    std::int32_t recording_onset;
    double delay;
    double too_large;
  };
  const Case cases[] = {
      {"identical signals of ones agree at frame 161", [] { return constant(kSpan + 1, 1.0); },
       [] { return constant(kSpan, 1.0); }, 161, 161, 0.0, 0.0},
      // Its frame 199 holds one sample of 1.0 (-23.8 dB), below the
      // recording's own threshold of about -12.3 dB.
      {"a recording starting 48000 late moves earlier", [] { return constant(kSpan + 1, 1.0); },
       [] { return step_up(kSpan, 48000, 1.0); }, 161, 361, -240.0 * 200, 0.0},
      // The reference's frame 199 already passes -50 dB with its one sample.
      {"a reference starting 48000 late: later by one frame less",
       [] { return step_up(kSpan + 1, 48000, 1.0); }, [] { return constant(kSpan, 1.0); }, 360, 161,
       240.0 * 199, 0.0},
      {"a reference starting at 400000: too large", [] { return step_up(kSpan + 1, 400000, 1.0); },
       [] { return constant(kSpan, 1.0); }, 1827, 161, 240.0 * 1666, 1.0},
      {"the flag not yet at 360000", [] { return step_up(kSpan + 1, 360001, 1.0); },
       [] { return constant(kSpan, 1.0); }, 1661, 161, 360000.0, 0.0},
      {"the flag at 360240", [] { return step_up(kSpan + 1, 360241, 1.0); },
       [] { return constant(kSpan, 1.0); }, 1662, 161, 360240.0, 1.0},
      // Silent recording frames (-120 dB) pass its threshold of -132 dB;
      // silent reference frames never pass -50 dB.
      {"silence: only the recording's onset", [] { return constant(kSpan + 1, 0.0); },
       [] { return constant(kSpan, 0.0); }, 0, 161, -240.0 * 161, 0.0},
      {"no onset copies the recording, NaN included", [] { return constant(kSpan + 1, 0.001); },
       [] { return with(constant(kSpan, 1000.0), 12345, kNaN); }, 0, 0, 0.0, 0.0},
      // +Inf makes the recording's threshold +Inf: no frame passes it. The
      // reference frames that hold an infinity are active.
      {"an infinite recording sample silences its onset",
       [] {
         auto x = constant(kSpan + 1, 0.0);
         for (std::size_t i = 0; i < x.size(); i += 240) {
           x[i] = kInf;
         }
         return x;
       },
       [] { return with(constant(kSpan, 1.0), 700, kInf); }, 161, 0, 240.0 * 161, 0.0},
      // Only frames 2839 .. 2999 active (from position 681361 on; 681362 for
      // the recording, so that frame 2838 stays silent); a NaN keeps the
      // other signal inactive, or silence does: nothing is moved in.
      {"the reference's onset at the last frame", [] { return step_up(kSpan + 1, 681361, 1.0); },
       [] { return with(constant(kSpan, 1.0), 5, kNaN); }, 3000, 0, 720000.0, 1.0},
      {"the recording's onset at the last frame", [] { return constant(kSpan + 1, 0.0); },
       [] { return step_up(kSpan, 681362, 1.0); }, 0, 3000, -720000.0, 0.0},
  };
  for (const Case& c : cases) {
    const std::vector<double> rec = c.rec();
    const Coarse got = align(c.reference(), rec);
    EXPECT_EQ(got.onsets.reference, c.reference_onset) << c.what;
    EXPECT_EQ(got.onsets.recording, c.recording_onset) << c.what;
    EXPECT_EQ(got.delay, c.delay) << c.what;
    EXPECT_EQ(got.too_large, c.too_large) << c.what;
    std::vector<double> want(kSpan, 0.0);
    for (long i = 0; i < kSpan; ++i) {
      const long from = i - static_cast<long>(c.delay);
      if (from >= 0 && from < kSpan) {
        want[static_cast<std::size_t>(i)] = rec[static_cast<std::size_t>(from)];
      }
    }
    EXPECT_EQ(first_difference(got.moved, want), -1) << c.what;
  }
}

TEST(CrudeAlign, ShortReferencesReadAsZeroPastTheirEnd) {
  const auto rec = constant(kSpan, 1.0);
  // 720000 samples: frame 2999 lacks position 720000, which counts as 0.0,
  // exactly as a 720001st sample of 0.0 would.
  auto full = constant(kSpan + 1, 0.0);
  for (std::size_t i = 681361; i < kSpan; ++i) {
    full[i] = 1.0;
  }
  const std::vector<double> cut(full.begin(), full.end() - 1);
  const Coarse a = align(full, rec);
  const Coarse b = align(cut, rec);
  expect_same(a, b, "720000 samples against a 0.0 at position 720000");
  EXPECT_EQ(b.onsets.reference, 3000);

  // Much shorter references, down to none: every missing position is 0.0.
  for (const std::size_t n : {std::size_t{240 * 170}, std::size_t{241}, std::size_t{1}}) {
    const Coarse c = align(constant(n, 1.0), rec);
    EXPECT_EQ(c.onsets.recording, 161) << n;
  }
  const Coarse none = align({}, rec);
  EXPECT_EQ(none.onsets.reference, 0);
  EXPECT_EQ(none.delay, -240.0 * 161);
}

// Noise with a chosen onset, level changes, NaN frames and infinities: the
// kernels and the straightforward path agree everywhere.
TEST(CrudeAlign, KernelsMatchTheStraightforwardPathOnAdversarialSignals) {
  testing_support::Random random(0x243F6A8885A308D3u);
  auto next = [&random] { return 0.5 * random.uniform(); };
  struct Shape {
    std::size_t ref_onset, rec_onset;
    double ref_gain, rec_gain;
    std::size_t ref_length;
  };
  const Shape shapes[] = {
      {0, 4800, 100.0, 3000.0, kSpan + 1},    {96000, 1000, 0.02, 5.0, kSpan + 1},
      {0, 239999, 1000.0, 1000.0, kSpan + 7}, {500, 600, 0.0031, 0.1, kSpan + 1},
      {250000, 0, 8.0, 1.0, kSpan},           {0, 700000, 50.0, 50.0, 300000},
  };
  int case_number = 0;
  for (const Shape& s : shapes) {
    std::vector<double> reference(s.ref_length, 0.0);
    std::vector<double> rec(kSpan, 0.0);
    for (std::size_t i = s.ref_onset; i < reference.size(); ++i) {
      reference[i] = s.ref_gain * next();
    }
    for (std::size_t i = s.rec_onset; i < rec.size(); ++i) {
      // A quieter stretch that hovers around the recording's threshold.
      rec[i] = s.rec_gain * next() * ((i / 24000) % 3 == 1 ? 0.2 : 1.0);
    }
    // A NaN frame in the reference, a NaN and an infinity early in it.
    if (case_number % 2 == 0 && reference.size() > 200000) {
      reference[170000] = kNaN;
      reference[240 * 7] = -kInf;
    }
    align(reference, rec);
    ++case_number;
  }
}

}  // namespace
