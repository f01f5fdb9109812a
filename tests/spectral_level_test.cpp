// b_abs, rms, b_rms and b_log10: exact values, the strict order of the sums,
// non-finite inputs and records that are not plain vectors (b_rms without
// its scratch: lumetra_reliability_test.cpp). Indices count from 0.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "lumetra.h"
#include "spectral/constants.h"
#include "support/records.h"
#include "support/reference_spectral.h"

namespace {

constexpr int kSpan = spectral::kSpan;
constexpr int kLags = spectral::kLags;
using testing_support::bits;
using testing_support::kInf;
using testing_support::kNaN;

// ----------------------------------------------------------------- b_abs --

TEST(Magnitude, ClearsTheSignBitOfEveryLag) {
  std::vector<double> x(kLags + 1, 1.5);
  x[0] = -0.0;
  x[1] = -3.5;
  x[2] = -kInf;
  x[3] = std::bit_cast<double>(0xFFF8000000000001u);  // NaN with the sign bit set
  x[4] = -std::numeric_limits<double>::denorm_min();
  x[kLags - 1] = -2.0;
  x[kLags] = -7.0;  // past the end: must stay as it is
  std::vector<double> y(kLags + 1, -9.0);
  b_abs(x.data(), y.data());
  EXPECT_EQ(bits(y[0]), bits(0.0));
  EXPECT_EQ(bits(y[1]), bits(3.5));
  EXPECT_EQ(bits(y[2]), bits(kInf));
  EXPECT_EQ(bits(y[3]), 0x7FF8000000000001u);
  EXPECT_EQ(bits(y[4]), bits(std::numeric_limits<double>::denorm_min()));
  EXPECT_EQ(bits(y[5]), bits(1.5));
  EXPECT_EQ(bits(y[kLags - 1]), bits(2.0));
  EXPECT_EQ(y[kLags], -9.0);

  // In place gives the same result, and leaves the element past the end.
  b_abs(x.data(), x.data());
  for (int k = 0; k < kLags; ++k) {
    ASSERT_EQ(bits(x[k]), bits(y[k])) << "k = " << k;
  }
  EXPECT_EQ(x[kLags], -7.0);
}

// ------------------------------------------------------------------- rms --

TEST(RmsSpan, ConstantSignalsGiveTheirMagnitudeExactly) {
  EXPECT_EQ(bits(rms(std::vector<double>(kSpan, 0.0).data())), bits(0.0));
  EXPECT_EQ(bits(rms(std::vector<double>(kSpan, -2.0).data())), bits(2.0));
}

TEST(RmsSpan, SumsTheSquaresStrictlyFirstToLast) {
  // 1e16 + 1 rounds back to 1e16: summed first to last, all the ones after
  // the large square vanish; any other order would keep some of them.
  std::vector<double> x(kSpan, 1.0);
  x[0] = 1e8;
  const double expected = std::sqrt(1e16 / 720000.0);
  EXPECT_EQ(bits(rms(x.data())), bits(expected));

  std::mt19937_64 gen(3);
  std::uniform_real_distribution<double> u(-32767.0, 32767.0);
  for (double& v : x) {
    v = u(gen);
  }
  EXPECT_EQ(bits(rms(x.data())), bits(reference::rms(x.data(), kSpan)));
}

TEST(RmsSpan, NonFiniteSamples) {
  std::vector<double> x(kSpan, 3.0);
  x[1000] = -kInf;
  EXPECT_EQ(rms(x.data()), kInf);
  x[1000] = 1e200;  // the square overflows
  EXPECT_EQ(rms(x.data()), kInf);
  x[719999] = kNaN;
  EXPECT_TRUE(std::isnan(rms(x.data())));
}

// ----------------------------------------------------------------- b_rms --

// A one-dimensional wrapper over values (released by the caller).
emxArray_real_T* wrap(std::vector<double>& v) {
  return emxCreateWrapper_real_T(v.data(), static_cast<int32_t>(v.size()), 1);
}

double record_rms(std::vector<double> v) {
  emxArray_real_T* x = wrap(v);
  const double r = b_rms(x);
  emxDestroyArray_real_T(x);
  return r;
}

TEST(RmsRecord, SmallVectorsGiveExactValues) {
  EXPECT_EQ(bits(record_rms({3.0, 4.0})), bits(std::sqrt(12.5)));
  EXPECT_EQ(bits(record_rms({-5.0})), bits(5.0));
}

TEST(RmsRecord, EmptyVectorGivesNaN) {
  emxArray_real_T* x = nullptr;
  emxInit_real_T(&x, 1);
  ASSERT_NE(x, nullptr);
  EXPECT_TRUE(std::isnan(b_rms(x)));
  emxFree_real_T(&x);
}

TEST(RmsRecord, NonFiniteElements) {
  EXPECT_TRUE(std::isnan(record_rms({1.0, kNaN, 2.0})));
  EXPECT_EQ(record_rms({1.0, kInf}), kInf);
  EXPECT_EQ(record_rms({-kInf, 2.0}), kInf);
}

TEST(RmsRecord, UsesOnlyTheFirstExtent) {
  std::vector<double> v = {3.0, 4.0, 100.0, 100.0, 100.0, 100.0};
  emxArray_real_T* x = emxCreateWrapper_real_T(v.data(), 2, 3);
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(bits(b_rms(x)), bits(std::sqrt(12.5)));
  emxDestroyArray_real_T(x);
}

TEST(RmsRecord, MatchesTheStraightforwardSumOnFrames) {
  std::mt19937_64 gen(5);
  std::uniform_real_distribution<double> u(-32767.0, 32767.0);
  for (int n : {1, 2, 241, 6000}) {
    std::vector<double> v(n);
    for (double& s : v) {
      s = u(gen);
    }
    EXPECT_EQ(bits(record_rms(v)), bits(reference::rms(v.data(), n))) << "n = " << n;
  }
}

TEST(RmsRecord, RecordsThatHoldNoReadableVectorGiveNaN) {
  EXPECT_TRUE(std::isnan(b_rms(nullptr)));

  int32_t extent = 3;
  double values[3] = {1.0, 2.0, 3.0};
  emxArray_real_T bad{values, &extent, 3, 1, 0};
  bad.numDims = 0;  // no first extent to read
  EXPECT_TRUE(std::isnan(b_rms(&bad)));
  bad.numDims = 1;
  extent = -1;
  EXPECT_TRUE(std::isnan(b_rms(&bad)));
  extent = 3;
  bad.data = nullptr;
  EXPECT_TRUE(std::isnan(b_rms(&bad)));
  bad.size = nullptr;
  EXPECT_TRUE(std::isnan(b_rms(&bad)));
  // {3, 0}: no element at all, so size[0] is not taken on trust.
  int32_t hollow[2] = {3, 0};
  emxArray_real_T empty_columns{values, hollow, 0, 2, 0};
  EXPECT_TRUE(std::isnan(b_rms(&empty_columns)));
  hollow[1] = 1;
  EXPECT_EQ(b_rms(&empty_columns), std::sqrt(14.0 / 3.0));
}

// --------------------------------------------------------------- b_log10 --

TEST(Log10, InPlaceWithTheCLibrarysValues) {
  struct Case {
    double in;
    double out;
  };
  const Case cases[] = {{1e-6, -6.0}, {1.0, 0.0}, {1000.0, 3.0}, {0.0, -kInf}, {kInf, kInf}};
  for (const Case& c : cases) {
    double v = c.in;
    b_log10(&v);
    EXPECT_EQ(bits(v), bits(c.out)) << "log10(" << c.in << ")";
  }
  for (double in : {-1.0, -kInf, kNaN}) {
    double v = in;
    b_log10(&v);
    EXPECT_TRUE(std::isnan(v)) << "log10(" << in << ")";
  }
  double v = 12345.678;
  b_log10(&v);
  EXPECT_EQ(bits(v), bits(std::log10(12345.678)));
  b_log10(nullptr);  // ignored
}

}  // namespace
