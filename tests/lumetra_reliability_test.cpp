// Robustness of lumetra: b_rms with each of its allocations refused in turn
// gives NaN and leaks nothing (LeakSanitizer in the sanitized build); the
// estimation asks for no memory at all; estimations in a row, with other
// input between them, give the same bits every time and take no memory; the
// C heap sees no call but the seam's (support/heap.h: where it cannot be
// watched, those checks report themselves as not applicable); two
// threads estimating at once in workspaces of their own give the bits of the
// static path (also built with ThreadSanitizer by scripts/test-tsan).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "lumetra.h"
#include "lumetra/estimation.h"
#include "runtime/alloc.h"
#include "stimulus.h"
#include "support/heap.h"
#include "support/lumetra_straight.h"
#include "support/records.h"

namespace {

using namespace testing_support;
namespace seam = runtime::alloc_seam;

constexpr int kSteps = 11;

// Rounds of the long run: the estimation of one recording, then of another
// that fails, then the first again: 2 * kEstimations - 1 estimations in a
// row, a tenth of a second or so each.
constexpr int kEstimations = 20;

TEST(LumetraAllocationFailure, BRmsWithoutItsScratchIsNaN) {
  lumetra_estimation_initialize();
  std::vector<double> frame(241);
  for (std::size_t k = 0; k < frame.size(); ++k) {
    frame[k] = 100.0 * std::sin(0.05 * static_cast<double>(k));
  }
  Record x = testing_support::column_wrapper(frame);
  seam::reset();
  const testing_support::HeapWatch heap;
  const double whole = b_rms(x.get());
  const long count = seam::requests();
  const long heap_calls = heap.allocations();
  // The scratch record, its extents and its storage.
  EXPECT_EQ(count, 3);
  ASSERT_TRUE(std::isfinite(whole));
  const long live = seam::live_blocks();
  for (long k = 1; k <= count; ++k) {
    seam::fail_nth(k);
    EXPECT_EQ(bits(b_rms(x.get())), kNaNBits) << "request " << k << " refused";
    EXPECT_EQ(seam::live_blocks(), live) << "request " << k << " refused";
  }
  seam::reset();
  EXPECT_EQ(bits(b_rms(x.get())), bits(whole));

  // An empty vector needs no storage: record and extents only, NaN either way.
  std::vector<double> none;
  Record empty(emxCreateWrapper_real_T(none.data(), 0, 1));
  seam::reset();
  EXPECT_EQ(bits(b_rms(empty.get())), kNaNBits);
  EXPECT_EQ(seam::requests(), 2);
  for (long k = 1; k <= 2; ++k) {
    seam::fail_nth(k);
    EXPECT_EQ(bits(b_rms(empty.get())), kNaNBits);
  }
  seam::reset();
  // Each request of the seam was one call of the C heap, and there was no
  // other.
  if (const char* why = testing_support::heap_calls_unavailable()) {
    GTEST_SKIP() << "not applicable here: " << why;
  }
  EXPECT_EQ(heap_calls, count);
}

struct Outputs {
  double level[kSteps];
  double range[kSteps];
  double peak;
  double failed;
};

Outputs estimate(const std::vector<double>& reference, const std::vector<double>& recording) {
  Record ref = testing_support::column_wrapper(reference);
  Record rec = testing_support::column_wrapper(recording);
  Outputs o{};
  lumetra_estimation(ref.get(), rec.get(), 0.0, 0.0, 0.0, o.level, o.range, &o.peak, &o.failed);
  return o;
}

bool same(const Outputs& a, const Outputs& b) {
  for (int k = 0; k < kSteps; ++k) {
    if (bits(a.level[k]) != bits(b.level[k]) || bits(a.range[k]) != bits(b.range[k])) {
      return false;
    }
  }
  return bits(a.peak) == bits(b.peak) && bits(a.failed) == bits(b.failed);
}

// The full-length pair of these tests: the stepped reference and a recording
// of it with gains, noise and a delay.
std::vector<double> device_recording(const std::vector<double>& reference) {
  stimulus::Device device;
  device.delay = 12000;
  device.step_gain_db = {-1.0, -2.0, 0.5, -3.0, 0.0, -1.5, -0.5, 1.0, -2.5, -4.0, 0.25};
  device.noise_db = -70.0;
  return stimulus::record(reference, device, 25.2);
}

TEST(LumetraLongRun, EstimationsInARowGiveTheSameBitsAndTakeNoMemory) {
  lumetra_estimation_initialize();
  const std::vector<double> reference = stimulus::stepped_reference({});
  const std::vector<double> recording = device_recording(reference);
  // Between the calls: a recording that fails (it leads the reference), so
  // that any state a failed call left behind would show.
  stimulus::Device leading;
  leading.delay = -4800;
  const std::vector<double> other = stimulus::record(reference, leading, 25.2);

  const Outputs first = estimate(reference, recording);
  ASSERT_EQ(first.failed, 0.0);
  const long live = seam::live_blocks();
  const testing_support::HeapWatch heap;
  seam::reset();
  for (int call = 1; call < kEstimations; ++call) {
    EXPECT_EQ(estimate(reference, other).failed, 1.0) << "call " << call;
    EXPECT_TRUE(same(estimate(reference, recording), first)) << "call " << call;
  }
  // The only requests are the two wrappers of each call (record and extents
  // each): the estimation itself asks for nothing.
  const long requests = seam::requests();
  EXPECT_EQ(requests, 4 * 2 * (kEstimations - 1));
  EXPECT_EQ(seam::live_blocks(), live);
  lumetra_estimation_terminate();
  // Each request of the seam is one call of the C heap; there is no other.
  AM_EXPECT_HEAP(heap, requests);
}

TEST(LumetraThreads, OwnWorkspacesGiveTheBitsOfTheStaticPath) {
  lumetra_estimation_initialize();
  const std::vector<double> reference = stimulus::stepped_reference({});
  const std::vector<double> recording = device_recording(reference);
  Record ref = testing_support::column_wrapper(reference);
  Record rec = testing_support::column_wrapper(recording);
  const lumetra::Estimate alone =
      lumetra::estimate(ref.get(), rec.get(), 0.0, lumetra::static_workspace());
  ASSERT_EQ(alone.failed, 0.0);

  // Both threads start together, so that they also build the shared tables
  // at the same time.
  constexpr int kThreads = 2;
  lumetra::Estimate each[kThreads];
  bool had_workspace[kThreads] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const lumetra::HeapWorkspace workspace;
      had_workspace[t] = static_cast<bool>(workspace);
      if (workspace) {
        each[t] = lumetra::estimate(ref.get(), rec.get(), 0.0, workspace.get());
      }
    });
  }
  for (std::thread& th : threads) {
    th.join();
  }
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_TRUE(had_workspace[t]) << "thread " << t;
    EXPECT_EQ(straight::estimate_bits(each[t]), straight::estimate_bits(alone)) << "thread " << t;
  }
}

}  // namespace
