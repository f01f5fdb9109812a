// b_abs, rms, b_rms and b_log10: exact values, the strict order of the sums,
// non-finite inputs and records that are not plain vectors (b_rms without
// its scratch: lumetra_reliability_test.cpp). Indices count from 0.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

#include "lumetra.h"
#include "spectral/constants.h"
#include "support/records.h"
#include "support/reference_spectral.h"

namespace {

constexpr int kSpan = spectral::kSpan;
constexpr int kLags = spectral::kLags;
using namespace testing_support;

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

  x = testing_support::noise(kSpan, 32767.0, 3);
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

// b_rms: the square root of the mean square of size[0] elements (the first
// extent alone); NaN for a record that holds no readable vector.
TEST(RmsRecord, VectorsAndRecordsThatHoldNone) {
  double v[6] = {3.0, 4.0, 100.0, 100.0, 100.0, 100.0};
  double with_nan[3] = {1.0, kNaN, 2.0};
  double with_inf[2] = {-kInf, 2.0};
  double minus_five = -5.0;
  std::deque<std::vector<std::int32_t>> extents;
  std::deque<emxArray_real_T> records;
  auto record = [&](double* data, std::vector<std::int32_t> size, std::int32_t dims) {
    extents.push_back(std::move(size));
    std::int32_t* held = extents.back().empty() ? nullptr : extents.back().data();
    return &records.emplace_back(emxArray_real_T{data, held, 6, dims, 0});
  };
  emxArray_real_T* empty = nullptr;
  emxInit_real_T(&empty, 1);
  const testing_support::Record fresh(empty);
  struct Case {
    const char* what;
    const emxArray_real_T* x;
    double rms;  // NaN: any NaN
  };
  const Case cases[] = {
      {"two values", record(v, {2}, 1), std::sqrt(12.5)},
      {"one negative value", record(&minus_five, {1}, 1), 5.0},
      {"the first extent of a 2 x 3 record", record(v, {2, 3}, 2), std::sqrt(12.5)},
      {"{3, 1}", record(v + 3, {3, 1}, 2), 100.0},
      {"a NaN", record(with_nan, {3}, 1), kNaN},
      {"an infinity", record(with_inf, {2}, 1), kInf},
      {"an empty record", fresh.get(), kNaN},
      {"null", nullptr, kNaN},
      {"no dimensions", record(v, {3}, 0), kNaN},
      {"a negative extent", record(v, {-1}, 1), kNaN},
      {"null data", record(nullptr, {3}, 1), kNaN},
      {"null extents", record(v, {}, 1), kNaN},
      // No element at all, so size[0] is not taken on trust.
      {"{3, 0}", record(v, {3, 0}, 2), kNaN},
  };
  for (const Case& c : cases) {
    const double got = b_rms(c.x);
    EXPECT_TRUE(std::isnan(c.rms) ? std::isnan(got) : bits(got) == bits(c.rms))
        << c.what << ": " << got;
  }
}

TEST(RmsRecord, MatchesTheStraightforwardSumOnFrames) {
  for (const std::size_t n : {1, 2, 241, 6000}) {
    std::vector<double> x = testing_support::noise(n, 32767.0, n);
    const testing_support::Record r = testing_support::column_wrapper(x);
    EXPECT_EQ(bits(b_rms(r.get())), bits(reference::rms(x.data(), static_cast<int>(n))))
        << "n = " << n;
  }
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
