// The coarse alignment, called directly: its faults rarely show in the
// estimation's outputs. Every case runs the SSE2 and (where the machine has
// it) the AVX2 kernels and the straightforward path, and demands identical
// bits from all of them.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "lumetra/estimation.h"
#include "lumetra/kernels.h"
#include "support/common.h"
#include "support/lumetra_straight.h"

namespace {

using lumetra::kSpan;
using testing_support::bits;
using testing_support::first_difference;

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

// b_sig_tmp must hold sig_tmp moved later by d (earlier when negative).
void expect_moved(const Coarse& c, const std::vector<double>& sig_tmp, long d) {
  std::vector<double> want(kSpan, 0.0);
  for (long i = 0; i < kSpan; ++i) {
    const long from = i - d;
    if (from >= 0 && from < kSpan) {
      want[static_cast<std::size_t>(i)] = sig_tmp[static_cast<std::size_t>(from)];
    }
  }
  EXPECT_EQ(first_difference(c.moved, want), -1) << "moved by " << d;
}

TEST(CrudeAlign, IdenticalSignalsOfOnesAgreeAtFrame161) {
  const auto reference = constant(kSpan + 1, 1.0);
  const auto rec = constant(kSpan, 1.0);
  const Coarse c = align(reference, rec);
  EXPECT_EQ(c.onsets.reference, 161);
  EXPECT_EQ(c.onsets.recording, 161);
  EXPECT_EQ(c.delay, 0.0);
  EXPECT_EQ(c.too_large, 0.0);
  expect_moved(c, rec, 0);
}

TEST(CrudeAlign, RecordingStarting48000LateMovesEarlier) {
  const auto reference = constant(kSpan + 1, 1.0);
  const auto rec = step_up(kSpan, 48000, 1.0);
  const Coarse c = align(reference, rec);
  // Frame 199 holds one sample of 1.0 (-23.8 dB), below the recording's own
  // threshold of about -12.3 dB.
  EXPECT_EQ(c.onsets.reference, 161);
  EXPECT_EQ(c.onsets.recording, 361);
  EXPECT_EQ(c.delay, -240.0 * 200);
  EXPECT_EQ(c.too_large, 0.0);
  expect_moved(c, rec, -240 * 200);
}

TEST(CrudeAlign, ReferenceStarting48000LateMovesLaterByOneFrameLess) {
  // The reference's frame 199 already passes -50 dB with its one sample.
  const auto reference = step_up(kSpan + 1, 48000, 1.0);
  const auto rec = constant(kSpan, 1.0);
  const Coarse c = align(reference, rec);
  EXPECT_EQ(c.onsets.reference, 360);
  EXPECT_EQ(c.onsets.recording, 161);
  EXPECT_EQ(c.delay, 240.0 * 199);
  EXPECT_EQ(c.too_large, 0.0);
  expect_moved(c, rec, 240 * 199);
}

TEST(CrudeAlign, ReferenceStartingAt400000IsTooLarge) {
  const auto reference = step_up(kSpan + 1, 400000, 1.0);
  const auto rec = constant(kSpan, 1.0);
  const Coarse c = align(reference, rec);
  EXPECT_EQ(c.onsets.reference, 1827);
  EXPECT_EQ(c.delay, 240.0 * 1666);
  EXPECT_EQ(c.too_large, 1.0);
  expect_moved(c, rec, 240 * 1666);
}

TEST(CrudeAlign, SilenceFindsOnlyTheRecordingOnset) {
  // Silent recording frames (-120 dB) pass its threshold of -132 dB; silent
  // reference frames never pass -50 dB.
  const auto reference = constant(kSpan + 1, 0.0);
  const auto rec = constant(kSpan, 0.0);
  const Coarse c = align(reference, rec);
  EXPECT_EQ(c.onsets.reference, 0);
  EXPECT_EQ(c.onsets.recording, 161);
  EXPECT_EQ(c.delay, -240.0 * 161);
  EXPECT_EQ(c.too_large, 0.0);
  expect_moved(c, rec, -240 * 161);
}

TEST(CrudeAlign, NoOnsetCopiesTheRecordingNaNIncluded) {
  const auto reference = constant(kSpan + 1, 0.001);  // -60 dB
  auto rec = constant(kSpan, 1000.0);
  rec[12345] = std::numeric_limits<double>::quiet_NaN();
  const Coarse c = align(reference, rec);
  EXPECT_EQ(c.onsets.reference, 0);
  EXPECT_EQ(c.onsets.recording, 0);
  EXPECT_EQ(c.delay, 0.0);
  EXPECT_EQ(c.too_large, 0.0);
  EXPECT_EQ(first_difference(c.moved, rec), -1);
}

TEST(CrudeAlign, InfiniteRecordingSampleSilencesItsOnset) {
  // +Inf makes the recording's threshold +Inf: no frame passes it. The
  // reference frames that hold an infinity are active.
  auto reference = constant(kSpan + 1, 0.0);
  for (std::size_t i = 0; i < reference.size(); i += 240) {
    reference[i] = std::numeric_limits<double>::infinity();
  }
  auto rec = constant(kSpan, 1.0);
  rec[700] = std::numeric_limits<double>::infinity();
  const Coarse c = align(reference, rec);
  EXPECT_EQ(c.onsets.reference, 161);
  EXPECT_EQ(c.onsets.recording, 0);
  EXPECT_EQ(c.delay, 240.0 * 161);
  expect_moved(c, rec, 240 * 161);
}

TEST(CrudeAlign, OnsetsAtTheLastFrameMoveNothing) {
  // Reference active only in frames 2839 .. 2999 (from position 681361 on);
  // a NaN keeps the recording inactive: delay 720000.
  const auto late_reference = step_up(kSpan + 1, 681361, 1.0);
  auto nan_rec = constant(kSpan, 1.0);
  nan_rec[5] = std::numeric_limits<double>::quiet_NaN();
  const Coarse plus = align(late_reference, nan_rec);
  EXPECT_EQ(plus.onsets.reference, 3000);
  EXPECT_EQ(plus.onsets.recording, 0);
  EXPECT_EQ(plus.delay, 720000.0);
  EXPECT_EQ(plus.too_large, 1.0);
  EXPECT_EQ(first_difference(plus.moved, constant(kSpan, 0.0)), -1);

  // Recording active only in frames 2839 .. 2999 (from position 681362 on,
  // so that frame 2838 stays silent); reference silent: delay -720000.
  const auto silent_reference = constant(kSpan + 1, 0.0);
  const auto late_rec = step_up(kSpan, 681362, 1.0);
  const Coarse minus = align(silent_reference, late_rec);
  EXPECT_EQ(minus.onsets.reference, 0);
  EXPECT_EQ(minus.onsets.recording, 3000);
  EXPECT_EQ(minus.delay, -720000.0);
  EXPECT_EQ(minus.too_large, 0.0);
  EXPECT_EQ(first_difference(minus.moved, constant(kSpan, 0.0)), -1);
}

TEST(CrudeAlign, FlagStartsJustAbove360000) {
  const auto rec = constant(kSpan, 1.0);  // onset 161
  // Reference active from frame 1500 on: onset 1661, delay 360000.
  const Coarse at = align(step_up(kSpan + 1, 360001, 1.0), rec);
  EXPECT_EQ(at.delay, 360000.0);
  EXPECT_EQ(at.too_large, 0.0);
  const Coarse above = align(step_up(kSpan + 1, 360241, 1.0), rec);
  EXPECT_EQ(above.delay, 360240.0);
  EXPECT_EQ(above.too_large, 1.0);
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
  std::uint64_t state = 0x243F6A8885A308D3u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<double>(state >> 11) * 0x1.0p-53 - 0.5;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
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
      reference[170000] = nan;
      reference[240 * 7] = -inf;
    }
    align(reference, rec);
    ++case_number;
  }
}

}  // namespace
