// Robustness of quenbar and of the array API that both libraries export.
//
// Allocation failure: a call's requests are counted on a successful run, then
// each one in turn is refused (the k-th of the run, k = 1 .. count); the call
// must give its documented failure values and crash never, and the sanitized
// build's LeakSanitizer proves that nothing leaks on any of those paths.
//
// Long runs: thousands of estimates in a row give the same bits every time
// and take no memory, so that a host may call them for as long as it runs.
// The estimate asks the C heap for nothing, past the seam or through it
// (support/heap.h: where the C heap cannot be watched, those checks report
// themselves as not applicable).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "quenbar.h"
#include "runtime/alloc.h"
#include "support/heap.h"
#include "support/records.h"
#include "synth.h"

namespace {

using namespace testing_support;
namespace seam = runtime::alloc_seam;

class AllocationFailure : public testing_support::DisarmedSeam {};

// An operation that allocates, from fresh inputs each time. It observes for
// itself whether a request was refused (a record that did not come, storage
// that did not grow), checks the documented outcome of either case, and
// returns whether it saw a refusal.
struct Operation {
  std::string name;
  std::function<bool()> run;
};

// Runs op unarmed and counts its requests, then once with each request
// refused in turn. Every refusal must show (each request is needed) and none
// may show without one. Returns the number of requests.
// Every run must release all that it took: the seam's count of live blocks
// is the same before and after it (LeakSanitizer checks the same in the
// sanitized build, for every allocation of the process).
long refuse_each_request(const Operation& op) {
  seam::reset();
  const long live = seam::live_blocks();
  EXPECT_FALSE(op.run()) << op.name << ": failed with every request served";
  const long count = seam::requests();
  EXPECT_EQ(seam::live_blocks(), live) << op.name << ": leaked";
  for (long k = 1; k <= count; ++k) {
    seam::fail_nth(k);
    EXPECT_TRUE(op.run()) << op.name << ": request " << k << " of " << count
                          << " refused without effect";
    EXPECT_EQ(seam::live_blocks(), live) << op.name << ": leaked with request " << k << " refused";
    seam::reset();
  }
  return count;
}

// A created record: NULL when refused, else the shape asked for, all zeros,
// owning its storage. Releases it.
bool created(emxArray_real_T* r, const std::vector<std::int32_t>& extents) {
  if (r == nullptr) {
    return true;
  }
  EXPECT_EQ(r->numDims, static_cast<std::int32_t>(extents.size()));
  std::int32_t count = 1;
  for (std::size_t k = 0; k < extents.size(); ++k) {
    EXPECT_EQ(r->size[k], extents[k]);
    count *= extents[k];
  }
  EXPECT_EQ(r->capacity, count);
  EXPECT_EQ(r->ownsData, 1);
  for (std::int32_t k = 0; k < count; ++k) {
    EXPECT_EQ(bits(r->data[k]), 0u);
  }
  emxDestroyArray_real_T(r);
  return false;
}

// A wrapper: NULL when refused, else a record over the host's block that
// neither owns nor touched it.
bool wrapped(emxArray_real_T* r, const double* block, std::int32_t count) {
  if (r == nullptr) {
    return true;
  }
  EXPECT_EQ(r->data, block);
  EXPECT_EQ(r->capacity, count);
  EXPECT_EQ(r->ownsData, 0);
  emxDestroyArray_real_T(r);
  return false;
}

TEST_F(AllocationFailure, RecordCreationGivesNullAndLeaksNothing) {
  double block[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  const std::vector<std::int32_t> box = {2, 3, 2};
  const std::vector<Operation> operations = {
      {"emxCreate_real_T(3, 4)",
       [] {
         return created(emxCreate_real_T(3, 4), {3, 4});
       }},
      {"emxCreate_real_T(0, 5)",
       [] {
         return created(emxCreate_real_T(0, 5), {0, 5});
       }},
      {"emxCreateND_real_T(3, {2, 3, 2})",
       [&] { return created(emxCreateND_real_T(3, box.data()), box); }},
      {"emxCreateND_real_T(0, NULL)", [] { return created(emxCreateND_real_T(0, nullptr), {}); }},
      {"emxCreateWrapper_real_T(block, 3, 4)",
       [&] { return wrapped(emxCreateWrapper_real_T(block, 3, 4), block, 12); }},
      {"emxCreateWrapperND_real_T(block, 3, {2, 3, 2})",
       [&] { return wrapped(emxCreateWrapperND_real_T(block, 3, box.data()), block, 12); }},
      {"emxInit_real_T(2)",
       [] {
         emxArray_real_T* r = nullptr;
         emxInit_real_T(&r, 2);
         const bool refused = r == nullptr;
         emxFree_real_T(&r);
         return refused;
       }},
      {"emxInitArray_real_T(0)",
       [] {
         emxArray_real_T* r = nullptr;
         emxInitArray_real_T(&r, 0);
         const bool refused = r == nullptr;
         emxFree_real_T(&r);
         return refused;
       }},
  };
  long tried = 0;
  for (const Operation& op : operations) {
    tried += refuse_each_request(op);
  }
  // Record and extents for each; storage too for the four created records
  // with elements. emxCreate_real_T(0, 5) has no elements and no storage.
  EXPECT_EQ(tried, 3 + 2 + 3 + 3 + 2 + 2 + 2 + 2);
  for (int k = 0; k < 12; ++k) {
    EXPECT_EQ(block[k], k + 1.0);
  }
}

// A working array's life as the libraries live it: made empty, grown, grown
// again keeping its elements, shortened and lengthened within its capacity,
// freed. A refused growth leaves the record as it was, storage, contents,
// capacity and ownership, and the sequence goes on with it.
bool working_array_life(double* host) {
  bool refused = false;
  emxArray_real_T* r = nullptr;
  if (host != nullptr) {
    r = emxCreateWrapper_real_T(host, 3, 1);
  } else {
    emxInit_real_T(&r, 1);
  }
  if (r == nullptr) {
    return true;
  }
  const std::int32_t steps[] = {10, 40, 5, 30, 200};
  for (const std::int32_t n : steps) {
    const emxArray_real_T before = *r;
    const std::int32_t old = r->size[0];
    std::vector<double> kept(before.data, before.data + std::min(old, before.capacity));
    r->size[0] = n;
    emxEnsureCapacity_real_T(r, old);
    if (n > before.capacity && r->capacity == before.capacity) {
      refused = true;
      EXPECT_EQ(r->data, before.data);
      EXPECT_EQ(r->ownsData, before.ownsData);
      r->size[0] = old;  // the caller restores its extents
    } else {
      EXPECT_GE(r->capacity, n);
      EXPECT_EQ(r->ownsData, n > before.capacity ? 1 : before.ownsData);
    }
    for (std::size_t k = 0; k < kept.size(); ++k) {
      EXPECT_EQ(bits(r->data[k]), bits(kept[k]));
    }
    for (std::int32_t k = r->size[0] > old ? old : r->size[0]; k < r->size[0]; ++k) {
      r->data[k] = 0.25 * k;  // the new elements, as a caller fills them
    }
  }
  emxFree_real_T(&r);
  EXPECT_EQ(r, nullptr);
  if (host != nullptr) {
    EXPECT_EQ(host[0], 1.5);
    EXPECT_EQ(host[1], 2.5);
    EXPECT_EQ(host[2], 3.5);
  }
  return refused;
}

TEST_F(AllocationFailure, RefusedGrowthLeavesTheRecordAsItWas) {
  double host[3] = {1.5, 2.5, 3.5};
  // Record, extents, then storage of 16, 64 and 256 elements (the
  // shortening and the growth to 30 fit).
  EXPECT_EQ(
      refuse_each_request({"an owned working array", [] { return working_array_life(nullptr); }}),
      5);
  // Record, extents, then its own storage of 16, 64 and 256 elements.
  EXPECT_EQ(refuse_each_request({"a wrapper grown past the host's block",
                                 [&] { return working_array_life(host); }}),
            5);
}

// Signals with active and inactive frames at 8000 Hz.
synth::SnrScene scene() {
  return synth::speech_in_noise(8000.0, 3.0, 12.0, 7);
}

TEST_F(AllocationFailure, SnrEstimationNeedsNoAllocation) {
  const synth::SnrScene s = scene();
  Record gate = testing_support::column_wrapper(s.gate);
  Record measured = testing_support::column_wrapper(s.measured);
  const Operation estimate = {"SNR_estimation", [&] {
                                double snr = 0.0;
                                double extra = 1.0;
                                SNR_estimation(gate.get(), measured.get(), 8000.0, &snr, &extra);
                                EXPECT_TRUE(std::isfinite(snr));
                                EXPECT_EQ(bits(extra), 0u);
                                return false;
                              }};
  // The working values live on the stack: there is no request to refuse.
  EXPECT_EQ(refuse_each_request(estimate), 0);
  // An allocator that refuses everything changes nothing either, and the
  // C heap sees no call.
  double free_heap = 0.0;
  const HeapWatch heap;
  SNR_estimation(gate.get(), measured.get(), 8000.0, &free_heap, nullptr);
  seam::limit_bytes(1);
  double no_heap = 0.0;
  SNR_estimation(gate.get(), measured.get(), 8000.0, &no_heap, nullptr);
  seam::limit_bytes(0);
  EXPECT_EQ(bits(no_heap), bits(free_heap));
  AM_EXPECT_HEAP(heap, 0);
}

// The seam's count of live blocks follows every block of a record.
TEST_F(AllocationFailure, LiveBlocksCountWhatIsHeld) {
  const long live = seam::live_blocks();
  emxArray_real_T* r = emxCreate_real_T(4, 1);  // record, extents, storage
  EXPECT_EQ(seam::live_blocks(), live + 3);
  r->size[0] = 40;
  emxEnsureCapacity_real_T(r, 4);  // new storage in, old storage out
  EXPECT_EQ(seam::live_blocks(), live + 3);
  emxDestroyArray_real_T(r);
  EXPECT_EQ(seam::live_blocks(), live);
}

// The heap limit of the seam refuses large requests and serves small ones:
// records of any valid extents then meet a failing allocation.
TEST_F(AllocationFailure, HeapLimitRefusesWhatExceedsIt) {
  seam::limit_bytes(4096);
  EXPECT_EQ(emxCreate_real_T(1024, 1), nullptr);  // 8192 bytes of storage
  Record small(emxCreate_real_T(512, 1));         // 4096 bytes
  ASSERT_TRUE(small);
  small->size[0] = 513;
  emxEnsureCapacity_real_T(small.get(), 512);
  EXPECT_EQ(small->capacity, 512);
  small->size[0] = 512;
  seam::limit_bytes(0);
  Record large(emxCreate_real_T(1024, 1));
  EXPECT_TRUE(large);
}

TEST(LongRun, ThousandsOfEstimatesGiveTheSameBitsAndTakeNoMemory) {
  const synth::SnrScene s = scene();
  Record gate = testing_support::column_wrapper(s.gate);
  Record measured = testing_support::column_wrapper(s.measured);
  // Another input between the calls: nothing may carry over from it.
  std::vector<double> quiet(s.gate);
  for (double& v : quiet) {
    v *= 0.01;
  }
  Record other = testing_support::column_wrapper(quiet);
  double first = 0.0;
  SNR_estimation(gate.get(), measured.get(), 8000.0, &first, nullptr);
  double other_first = 0.0;
  SNR_estimation(other.get(), measured.get(), 8000.0, &other_first, nullptr);
  ASSERT_NE(bits(first), bits(other_first));

  seam::reset();
  const long live = seam::live_blocks();
  const HeapWatch heap;
  int differing = 0;
  constexpr int kCalls = 4000;
  for (int call = 0; call < kCalls; ++call) {
    double snr = 0.0;
    double extra = 1.0;
    const bool alternate = call % 3 == 2;
    SNR_estimation(alternate ? other.get() : gate.get(), measured.get(), 8000.0, &snr, &extra);
    differing += bits(snr) != bits(alternate ? other_first : first) || bits(extra) != 0u;
  }
  EXPECT_EQ(differing, 0);
  EXPECT_EQ(seam::requests(), 0);
  EXPECT_EQ(seam::live_blocks(), live);
  seam::reset();
  AM_EXPECT_HEAP(heap, 0);
}

TEST(LongRun, BadInputAgainAndAgainStaysNaN) {
  std::vector<double> samples(100, 500.0);
  Record gate = testing_support::column_wrapper(samples);
  seam::reset();
  const HeapWatch heap;
  const double rates[] = {0.0, -48000.0, 199.0, std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity()};
  for (int call = 0; call < 1000; ++call) {
    double snr = 0.0;
    SNR_estimation(gate.get(), gate.get(), rates[call % 5], &snr, nullptr);
    ASSERT_EQ(bits(snr), kNaNBits) << "call " << call;
  }
  EXPECT_EQ(seam::requests(), 0);
  AM_EXPECT_HEAP(heap, 0);
}

}  // namespace
