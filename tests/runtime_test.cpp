// The shared runtime: the array record API, the non-finite values and the
// record sums, including what the API does with records it cannot make
// (allocation failures: quenbar_reliability_test.cpp).
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "quenbar.h"
#include "runtime/alloc.h"
#include "runtime/sum.h"
#include "support/heap.h"
#include "support/records.h"

namespace {

using namespace testing_support;
namespace seam = runtime::alloc_seam;

class Runtime : public testing_support::DisarmedSeam {};

// Sets a one-dimensional record to n elements the usual way: old count, new
// extent, growth with the old count.
void set_length(emxArray_real_T* r, int32_t n) {
  const int32_t old = r->size[0];
  r->size[0] = n;
  emxEnsureCapacity_real_T(r, old);
}

// --- Empty records -----------------------------------------------------------

TEST_F(Runtime, FreshRecordIsEmptyAndOwnsItsStorage) {
  for (const auto init : {emxInit_real_T, emxInitArray_real_T}) {
    for (const std::int32_t dims : {1, 3}) {
      seam::reset();
      emxArray_real_T* r = nullptr;
      init(&r, dims);
      ASSERT_NE(r, nullptr);
      EXPECT_EQ(r->data, nullptr);
      EXPECT_EQ(r->numDims, dims);
      for (std::int32_t k = 0; k < dims; ++k) {
        EXPECT_EQ(r->size[k], 0);
      }
      EXPECT_EQ(r->capacity, 0);
      EXPECT_EQ(r->ownsData, 1);
      EXPECT_EQ(seam::requests(), 2);  // the record and its extents, nothing more
      emxFree_real_T(&r);
      EXPECT_EQ(r, nullptr);
      emxFree_real_T(&r);  // a null record is left alone
      EXPECT_EQ(r, nullptr);
    }
  }
  emxFree_real_T(nullptr);
}

TEST_F(Runtime, InitRefusesWhatItCannotMake) {
  emxArray_real_T stale{};
  emxArray_real_T* r = &stale;  // not null before the call
  emxInit_real_T(&r, -1);
  EXPECT_EQ(r, nullptr);
  emxInit_real_T(nullptr, 1);  // nowhere to store: nothing happens
  EXPECT_EQ(seam::requests(), 0);
}

// --- Growth ------------------------------------------------------------------

TEST_F(Runtime, GrowthDoublesFromSixteen) {
  struct Step {
    int32_t length;
    int32_t capacity;
  };
  // From an empty record: the first capacity that holds the length in 16 * 2^k.
  for (const Step s : {Step{1, 16}, Step{16, 16}, Step{17, 32}, Step{100, 128}, Step{1000, 1024},
                       Step{1025, 2048}}) {
    emxArray_real_T* r = nullptr;
    emxInit_real_T(&r, 1);
    set_length(r, s.length);
    EXPECT_EQ(r->capacity, s.capacity) << "length " << s.length;
    ASSERT_NE(r->data, nullptr);
    EXPECT_EQ(r->ownsData, 1);
    for (int32_t k = 0; k < s.capacity; ++k) {
      ASSERT_EQ(bits(r->data[k]), 0u) << "storage is zero-filled";
    }
    emxFree_real_T(&r);
  }
}

TEST_F(Runtime, GrowthKeepsOldElementsAndZeroFillsTheRest) {
  Record r(emxCreate_real_T(20, 1));
  ASSERT_TRUE(r);
  ASSERT_EQ(r->capacity, 20);
  for (int k = 0; k < 20; ++k) {
    r->data[k] = k + 0.5;
  }
  set_length(r.get(), 50);
  EXPECT_EQ(r->capacity, 80);  // 20, 40, 80
  for (int k = 0; k < 20; ++k) {
    EXPECT_EQ(r->data[k], k + 0.5);
  }
  for (int k = 20; k < 80; ++k) {
    EXPECT_EQ(bits(r->data[k]), 0u);
  }
  // Shorter extents leave storage and contents alone; capacity never shrinks.
  double* storage = r->data;
  set_length(r.get(), 3);
  EXPECT_EQ(r->data, storage);
  EXPECT_EQ(r->capacity, 80);
  EXPECT_EQ(r->data[19], 19.5);
}

TEST_F(Runtime, GrowthWithinCapacityChangesNothing) {
  std::vector<double> block = {1.0, 2.0, 3.0, 4.0, 5.0};
  Record r(emxCreateWrapper_real_T(block.data(), 5, 1));
  ASSERT_TRUE(r);
  seam::reset();
  r->size[0] = 3;
  emxEnsureCapacity_real_T(r.get(), 5);
  EXPECT_EQ(r->data, block.data());
  EXPECT_EQ(r->capacity, 5);
  EXPECT_EQ(r->ownsData, 0);  // not even ownsData
  EXPECT_EQ(seam::requests(), 0);
}

TEST_F(Runtime, ZeroDimensionalRecordHoldsOneElement) {
  emxArray_real_T* r = nullptr;
  emxInit_real_T(&r, 0);
  ASSERT_NE(r, nullptr);
  emxEnsureCapacity_real_T(r, 0);
  EXPECT_EQ(r->capacity, 16);
  emxFree_real_T(&r);

  Record c(emxCreateND_real_T(0, nullptr));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->numDims, 0);
  EXPECT_EQ(c->capacity, 1);
  ASSERT_NE(c->data, nullptr);
  EXPECT_EQ(bits(c->data[0]), 0u);
}

// Past 2^30 - 1 a doubling would leave int32_t: the capacity becomes the
// largest int32_t instead. The storage that sizes ask for is 8 or 16 GiB, so
// the request is observed through the fault seam and refused.
TEST_F(Runtime, GrowthStopsAtLargestInt32) {
  struct Case {
    int32_t capacity;
    int32_t length;
    std::int64_t grown;
  };
  for (const Case c :
       {Case{1 << 30, (1 << 30) + 1, INT32_MAX}, Case{(1 << 30) - 1, 1 << 30, 2147483646},
        Case{(1 << 29) + 1, (1 << 30) + 3, INT32_MAX}}) {
    double small[4] = {1.0, 2.0, 3.0, 4.0};
    Record r(emxCreateWrapper_real_T(small, c.capacity, 1));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->capacity, c.capacity);
    r->size[0] = c.length;
    seam::fail_nth(1);
    emxEnsureCapacity_real_T(r.get(), 4);
    EXPECT_EQ(seam::requests(), 1);
    EXPECT_EQ(seam::last_request_bytes(), static_cast<std::size_t>(c.grown) * sizeof(double))
        << "from capacity " << c.capacity;
    // The refused growth left the record as it was.
    EXPECT_EQ(r->data, small);
    EXPECT_EQ(r->capacity, c.capacity);
    EXPECT_EQ(r->ownsData, 0);
  }
}

TEST_F(Runtime, GrownWrapperOwnsACopyAndLeavesTheCallersBlock) {
  std::vector<double> block = {7.0, -8.0, 9.5};
  Record r(emxCreateWrapper_real_T(block.data(), 3, 1));
  ASSERT_TRUE(r);
  set_length(r.get(), 5);
  EXPECT_NE(r->data, block.data());
  EXPECT_EQ(r->capacity, 16);
  EXPECT_EQ(r->ownsData, 1);
  EXPECT_EQ(r->data[0], 7.0);
  EXPECT_EQ(r->data[1], -8.0);
  EXPECT_EQ(r->data[2], 9.5);
  for (int k = 3; k < 16; ++k) {
    EXPECT_EQ(bits(r->data[k]), 0u);
  }
  EXPECT_EQ(block, (std::vector<double>{7.0, -8.0, 9.5}));
}

TEST_F(Runtime, GrowthNeverCopiesMoreThanTheOldStorage) {
  // oldNumel past the old capacity copies the old capacity; a negative one
  // copies nothing. (A sanitizer build catches any read past the block.)
  auto* block = new double[3]{1.0, 2.0, 3.0};
  Record r(emxCreateWrapper_real_T(block, 3, 1));
  r->size[0] = 40;
  emxEnsureCapacity_real_T(r.get(), 1000);
  EXPECT_EQ(r->capacity, 64);
  EXPECT_EQ(r->data[2], 3.0);
  EXPECT_EQ(bits(r->data[3]), 0u);

  Record w(emxCreateWrapper_real_T(block, 3, 1));
  w->size[0] = 4;
  emxEnsureCapacity_real_T(w.get(), -5);
  EXPECT_EQ(w->capacity, 16);
  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(bits(w->data[k]), 0u);
  }
  delete[] block;
}

TEST_F(Runtime, GrowthLeavesRecordsItCannotServeAsTheyWere) {
  // A negative extent and an element count past int32_t.
  const int32_t bad[][2] = {{-1, 1}, {10, -3}, {65536, 65536}, {INT32_MAX, 2}};
  for (const auto& size : bad) {
    Record m(emxCreate_real_T(2, 1));
    double* storage = m->data;
    m->size[0] = size[0];
    m->size[1] = size[1];
    emxEnsureCapacity_real_T(m.get(), 2);
    EXPECT_EQ(m->data, storage);
    EXPECT_EQ(m->capacity, 2);
    m->size[0] = 2;  // a valid shape again, for the release
    m->size[1] = 1;
  }
  EXPECT_EQ(seam::requests(), 4 * 3);  // only the four creations asked for memory
  emxEnsureCapacity_real_T(nullptr, 0);
}

// --- Creation ----------------------------------------------------------------

// Created records of two extents, and each refused request: quenbar_reliability_test.cpp.
TEST_F(Runtime, CreateNDCopiesTheExtents) {
  int32_t size[3] = {2, 3, 4};
  Record r(emxCreateND_real_T(3, size));
  size[1] = 99;  // the record keeps its own copy
  ASSERT_TRUE(r);
  EXPECT_EQ(r->numDims, 3);
  EXPECT_EQ(r->size[0], 2);
  EXPECT_EQ(r->size[1], 3);
  EXPECT_EQ(r->size[2], 4);
  EXPECT_EQ(r->capacity, 24);
  EXPECT_EQ(r->ownsData, 1);
  for (int k = 0; k < 24; ++k) {
    EXPECT_EQ(bits(r->data[k]), 0u);
  }
}

TEST_F(Runtime, WrappersBorrowTheCallersStorage) {
  std::vector<double> block = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
  Record w(emxCreateWrapper_real_T(block.data(), 2, 3));
  ASSERT_TRUE(w);
  EXPECT_EQ(w->data, block.data());
  EXPECT_EQ(w->size[0], 2);
  EXPECT_EQ(w->size[1], 3);
  EXPECT_EQ(w->capacity, 6);
  EXPECT_EQ(w->ownsData, 0);

  const int32_t size[2] = {3, 2};
  Record n(emxCreateWrapperND_real_T(block.data(), 2, size));
  ASSERT_TRUE(n);
  EXPECT_EQ(n->data, block.data());
  EXPECT_EQ(n->size[0], 3);
  EXPECT_EQ(n->size[1], 2);
  EXPECT_EQ(n->capacity, 6);
  EXPECT_EQ(n->ownsData, 0);
  w.reset();  // destroying a wrapper leaves the block alone (a sanitizer build
  n.reset();  // would report a free of the vector's storage)
  EXPECT_EQ(block[5], 6.0);
}

// Negative extents, an element count past int32_t, a negative numDims and a
// missing extent array give NULL.
TEST_F(Runtime, CreationRefusesWhatItCannotMake) {
  double v[4] = {};
  const int32_t negative[2] = {3, -1};
  const int32_t overflow[3] = {1024, 1024, 2048};
  EXPECT_EQ(emxCreate_real_T(-1, 3), nullptr);
  EXPECT_EQ(emxCreate_real_T(3, -1), nullptr);
  EXPECT_EQ(emxCreate_real_T(65536, 32768), nullptr);
  EXPECT_EQ(emxCreateND_real_T(2, negative), nullptr);
  EXPECT_EQ(emxCreateND_real_T(3, overflow), nullptr);
  EXPECT_EQ(emxCreateND_real_T(-1, negative), nullptr);
  EXPECT_EQ(emxCreateND_real_T(2, nullptr), nullptr);
  EXPECT_EQ(emxCreateWrapper_real_T(v, -4, 1), nullptr);
  EXPECT_EQ(emxCreateWrapper_real_T(v, INT32_MAX, 2), nullptr);
  EXPECT_EQ(emxCreateWrapperND_real_T(v, 2, negative), nullptr);
  EXPECT_EQ(emxCreateWrapperND_real_T(v, 3, overflow), nullptr);
  EXPECT_EQ(emxCreateWrapperND_real_T(v, 1, nullptr), nullptr);

  emxDestroyArray_real_T(nullptr);
}

// --- Non-finite values -------------------------------------------------------

TEST_F(Runtime, NonFiniteGettersAndGlobalsHaveTheirBitPatterns) {
  EXPECT_EQ(bits(rtGetInf()), 0x7FF0000000000000u);
  EXPECT_EQ(bits(rtGetMinusInf()), 0xFFF0000000000000u);
  EXPECT_EQ(bits(rtGetNaN()), kNaNBits);  // the negative quiet NaN, not 7FF8...
  EXPECT_EQ(bits(rtGetInfF()), 0x7F800000u);
  EXPECT_EQ(bits(rtGetMinusInfF()), 0xFF800000u);
  EXPECT_EQ(bits(rtGetNaNF()), 0xFFC00000u);
  for (int round = 0; round < 2; ++round) {  // initializing again writes the same
    SNR_estimation_initialize();
    EXPECT_EQ(bits(rtInf), 0x7FF0000000000000u);
    EXPECT_EQ(bits(rtMinusInf), 0xFFF0000000000000u);
    EXPECT_EQ(bits(rtNaN), kNaNBits);
    EXPECT_EQ(bits(rtInfF), 0x7F800000u);
    EXPECT_EQ(bits(rtMinusInfF), 0xFF800000u);
    EXPECT_EQ(bits(rtNaNF), 0xFFC00000u);
  }
  SNR_estimation_terminate();
  EXPECT_EQ(bits(rtNaN), kNaNBits);  // terminate leaves the globals alone
}

TEST_F(Runtime, NaNTestAcceptsEveryNaN) {
  const std::uint64_t nans[] = {kNaNBits, 0x7FF8000000000000, 0x7FF0000000000001,
                                0xFFF0000000000001, 0x7FFFFFFFFFFFFFFF};
  for (std::uint64_t b : nans) {
    EXPECT_EQ(rtIsNaN(std::bit_cast<double>(b)), 1) << std::hex << b;
  }
  for (double x : {0.0, -0.0, 1.0, DBL_MAX, DBL_TRUE_MIN, rtGetInf(), rtGetMinusInf()}) {
    EXPECT_EQ(rtIsNaN(x), 0) << x;
  }
  const std::uint32_t nans_f[] = {0xFFC00000, 0x7FC00000, 0x7F800001, 0xFFFFFFFF};
  for (std::uint32_t b : nans_f) {
    EXPECT_EQ(rtIsNaNF(std::bit_cast<float>(b)), 1) << std::hex << b;
  }
  for (float x : {0.0f, 1.0f, FLT_MAX, rtGetInfF(), rtGetMinusInfF()}) {
    EXPECT_EQ(rtIsNaNF(x), 0) << x;
  }
}

TEST_F(Runtime, InfTestOnceInitialized) {
  SNR_estimation_initialize();
  EXPECT_EQ(rtIsInf(rtGetInf()), 1);
  EXPECT_EQ(rtIsInf(rtGetMinusInf()), 1);
  EXPECT_EQ(rtIsInf(rtNaN), 0);
  EXPECT_EQ(rtIsInf(DBL_MAX), 0);
  EXPECT_EQ(rtIsInf(-DBL_MAX), 0);
  EXPECT_EQ(rtIsInf(0.0), 0);
  EXPECT_EQ(rtIsInfF(rtGetInfF()), 1);
  EXPECT_EQ(rtIsInfF(rtGetMinusInfF()), 1);
  EXPECT_EQ(rtIsInfF(rtNaNF), 0);
  EXPECT_EQ(rtIsInfF(FLT_MAX), 0);
  EXPECT_EQ(rtIsInfF(0.0f), 0);
}

// --- Sums --------------------------------------------------------------------

double sum_of(std::vector<double> values, int32_t cols = 1) {
  Record r(emxCreateWrapper_real_T(values.data(), static_cast<int32_t>(values.size()), cols));
  return combineVectorElements(r.get());
}

TEST_F(Runtime, SumRunsStrictlyFirstToLast) {
  EXPECT_EQ(bits(sum_of({1e16, 1.0, -1e16})), 0u);  // not 1.0
  EXPECT_EQ(sum_of({1.0, 1e16, -1e16}), 0.0);
  EXPECT_EQ(sum_of({1e16, -1e16, 1.0}), 1.0);
  EXPECT_EQ(sum_of({0.1, 0.2, 0.3}), (0.1 + 0.2) + 0.3);
  EXPECT_NE(sum_of({0.1, 0.2, 0.3}), 0.1 + (0.2 + 0.3));

  // Against a plain left-to-right loop on values spread over many magnitudes.
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-30, 30);
  for (int n : {1, 2, 3, 17, 1000, 4097}) {
    std::vector<double> v(static_cast<std::size_t>(n));
    for (double& x : v) {
      x = std::ldexp(mantissa(rng), exponent(rng));
    }
    double acc = v[0];
    for (int k = 1; k < n; ++k) {
      acc += v[static_cast<std::size_t>(k)];
    }
    // Every record sum the libraries export, and the runtime's own.
    Record r = testing_support::column_wrapper(v);
    EXPECT_EQ(bits(combineVectorElements(r.get())), bits(acc)) << n << " elements";
    EXPECT_EQ(bits(sum(r.get())), bits(acc)) << n << " elements";
    EXPECT_EQ(bits(runtime::record_sum(r.get())), bits(acc)) << n << " elements";
  }
}

TEST_F(Runtime, SumEdgeCases) {
  // Empty, even without storage.
  const int32_t empty[1] = {0};
  Record e(emxCreateWrapperND_real_T(nullptr, 1, empty));
  EXPECT_EQ(bits(combineVectorElements(e.get())), 0u);
  // One element comes back unchanged, NaN included.
  EXPECT_EQ(bits(sum_of({-0.0})), bits(-0.0));
  EXPECT_EQ(bits(sum_of({std::bit_cast<double>(std::uint64_t{0x7FF8000000000123})})),
            0x7FF8000000000123u);
  // Only size[0] counts: {1, 5} is one element.
  EXPECT_EQ(sum_of({2.5, 1.0, 1.0, 1.0, 1.0}, 1), 6.5);
  std::vector<double> row = {2.5, 1.0, 1.0, 1.0, 1.0};
  Record r(emxCreateWrapper_real_T(row.data(), 1, 5));
  EXPECT_EQ(combineVectorElements(r.get()), 2.5);
  // A NaN anywhere, or both infinities, give NaN.
  EXPECT_TRUE(std::isnan(sum_of({1.0, 2.0, std::nan(""), 3.0})));
  EXPECT_TRUE(std::isnan(sum_of({rtGetInf(), 1.0, rtGetMinusInf()})));
  EXPECT_EQ(sum_of({rtGetInf(), 1.0, 1e308}), rtGetInf());
}

// Records that do not describe a readable vector give NaN, never a read.
TEST_F(Runtime, SumOfUnreadableRecordsIsNaN) {
  EXPECT_EQ(bits(combineVectorElements(nullptr)), kNaNBits);
  EXPECT_EQ(bits(sum(nullptr)), kNaNBits);
  Record nodata(emxCreateWrapper_real_T(nullptr, 4, 1));
  EXPECT_EQ(bits(combineVectorElements(nodata.get())), kNaNBits);
  double v[2] = {1.0, 2.0};
  int32_t size[1] = {-2};
  emxArray_real_T negative{v, size, 2, 1, 0};
  EXPECT_EQ(bits(combineVectorElements(&negative)), kNaNBits);
  emxArray_real_T no_extents{v, nullptr, 2, 1, 0};
  EXPECT_EQ(bits(combineVectorElements(&no_extents)), kNaNBits);
  Record scalar(emxCreateND_real_T(0, nullptr));  // no size[0] to read
  EXPECT_EQ(bits(combineVectorElements(scalar.get())), kNaNBits);
  // {3, 0} describes no element: its storage need not hold size[0] values
  // (here it holds two), so nothing is read.
  const int32_t hollow[2] = {3, 0};
  Record empty_columns(emxCreateWrapperND_real_T(v, 2, hollow));
  EXPECT_EQ(bits(combineVectorElements(empty_columns.get())), kNaNBits);
  EXPECT_EQ(bits(sum(empty_columns.get())), kNaNBits);
}

}  // namespace
