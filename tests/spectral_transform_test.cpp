// Twiddle tables, fft, ifft and xcorr: exact statements, properties with
// tolerances derived from the precision, and the library's fast path against
// the straightforward reference path, bit for bit. Indices count from 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <span>
#include <string>
#include <vector>

#include "lumetra.h"
#include "runtime/dispatch.h"
#include "spectral/constants.h"
#include "spectral/engine.h"
#include "spectral/spectral.h"
#include "support/records.h"
#include "support/reference_spectral.h"

namespace {

constexpr int kN = spectral::kN;
constexpr int kSpan = spectral::kSpan;
constexpr int kLags = spectral::kLags;
constexpr int kTable = spectral::kTableLength;
using namespace testing_support;

// The first element where a and b differ (NaN payloads aside, as in
// same_result: when both operands of an addition are NaNs, which payload
// survives depends on the operand order the compiler chose), named with
// both values in the failure message.
::testing::AssertionResult identical(const double* a, const double* b, long n) {
  const auto length = static_cast<std::size_t>(n);
  const std::int64_t k = testing_support::first_difference({a, length}, {b, length}, false);
  if (k < 0) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "first difference at double " << k << ": " << std::hexfloat << a[k] << " vs " << b[k]
         << std::defaultfloat;
}

const double* doubles(const std::vector<complex_T>& v) {
  return &v.data()->re;
}

// Unit roundoff, and the growth of relative error in the 2-norm per radix-2
// stage: eta = mu + gamma_4 (sqrt 2 + mu), with the twiddles accurate to
// mu <= 4u (libm within an ulp plus the rounded angle), so eta <= 10u.
constexpr double kU = std::numeric_limits<double>::epsilon() / 2;
constexpr double kStageError = 10 * kU;
constexpr double kTransformError = spectral::kLog2N * kStageError;  // one transform

// Arrays with one sentinel element past the end: a write past the extent
// shows up as a changed sentinel.
constexpr std::uint64_t kSentinel = 0x7FF4DEADBEEF0001u;  // a signalling NaN pattern
struct Guarded {
  std::vector<double> data;
  explicit Guarded(long n) : data(n + 1, 0.0) { data[n] = std::bit_cast<double>(kSentinel); }
  double* get() { return data.data(); }
  bool intact() const { return bits(data.back()) == kSentinel; }
};

// Runs f(e) once for every engine variant e this processor can run, with the
// variant named in failure messages.
template <class F>
void for_each_engine(F f) {
  for (const spectral::Engine* e : testing_support::runnable(spectral::engine_for)) {
    SCOPED_TRACE(std::string(runtime::isa_name(e->isa)) + " engine");
    f(*e);
  }
}

// The transforms on engine e, over raw arrays of their fixed lengths.
void fft_with(const spectral::Engine& e, const double* x, complex_T* y) {
  spectral::forward_transform(std::span<const double, kSpan>(x, kSpan),
                              std::span<complex_T, kN>(y, kN), e);
}
void ifft_with(const spectral::Engine& e, const complex_T* x, complex_T* y) {
  spectral::inverse_transform(std::span<const complex_T, kN>(x, kN),
                              std::span<complex_T, kN>(y, kN), e);
}
void xcorr_with(const spectral::Engine& e, const double* x, const double* y, double* r) {
  spectral::cross_correlate(
      std::span<const double, kSpan>(x, kSpan), std::span<const double, kSpan>(y, kSpan),
      std::span<double, kLags>(r, kLags), spectral::static_workspace(), spectral::tables(), e);
}

// ------------------------------------------------------------ inputs --

std::vector<double> random_samples(unsigned seed) {
  return testing_support::noise(kSpan, 32767.0, seed);
}

// Random samples with signed zeros sprinkled in.
std::vector<double> random_with_zeros(unsigned seed) {
  std::vector<double> x = random_samples(seed);
  for (int n = 0; n < kSpan; n += 97) {
    x[n] = -0.0;
  }
  for (int n = 13; n < kSpan; n += 89) {
    x[n] = 0.0;
  }
  x[kSpan - 1] = -0.0;
  return x;
}

// Mostly zeros of both signs with a few spikes: many butterflies meet exact
// zeros, where the sign of a zero result depends on the operation.
std::vector<double> impulsive() {
  std::vector<double> x(kSpan, 0.0);
  for (int n = 0; n < kSpan; n += 3) {
    x[n] = -0.0;
  }
  const int spikes[] = {0, 1, 2, 4096, 262144, 524287, 524288, 600001, 719999};
  double amplitude = 32767.0;
  for (int n : spikes) {
    x[n] = amplitude;
    amplitude = -amplitude * 0.5;
  }
  return x;
}

// Huge and tiny magnitudes (all sums stay finite), subnormals whose products
// underflow to zeros of either sign, and signed zeros.
std::vector<double> extreme_magnitudes(unsigned seed, double huge = 1e300) {
  testing_support::Random random(seed);
  std::vector<double> x(kSpan);
  for (int n = 0; n < kSpan; ++n) {
    const double v = random.uniform();
    switch (n % 7) {
      case 0:
        x[n] = v * huge;
        break;
      case 1:
        x[n] = v * 1e-310;
        break;  // subnormal
      case 2:
        x[n] = v * 1e-300;
        break;
      case 3:
        x[n] = -0.0;
        break;
      case 4:
        x[n] = v * 1e150;
        break;
      default:
        x[n] = v;
        break;
    }
  }
  return x;
}

// Two samples near the largest double: sums overflow to infinities of either
// sign in about a quarter of the outputs, the rest stays finite.
std::vector<double> overflowing(unsigned seed) {
  std::vector<double> x = random_with_zeros(seed);
  x[100] = 1.5e308;
  x[300001] = -1.2e308;
  x[5] = std::numeric_limits<double>::denorm_min();
  return x;
}

std::vector<double> with_infinities(unsigned seed) {
  std::vector<double> x = random_with_zeros(seed);
  x[5] = kInf;
  x[524290] = -kInf;
  return x;
}

std::vector<double> with_nan(unsigned seed) {
  std::vector<double> x = random_with_zeros(seed);
  x[333333] = kNaN;
  x[17] = -kInf;
  return x;
}

// Complex inputs for the inverse: random values with signed zeros,
// subnormals and huge values in either component.
std::vector<complex_T> random_spectrum(unsigned seed) {
  testing_support::Random random(seed);
  std::vector<complex_T> x(kN);
  for (int k = 0; k < kN; ++k) {
    x[k] = {1e6 * random.uniform(), 1e6 * random.uniform()};
    if (k % 101 == 0) {
      x[k].im = -0.0;
    }
    if (k % 103 == 0) {
      x[k].re = -0.0;
    }
    if (k % 1009 == 0) {
      x[k].re *= 1e-316;
    }
    if (k % 1013 == 0) {
      x[k].im *= 1e300;
    }
  }
  return x;
}

std::vector<complex_T> nonfinite_spectrum(unsigned seed) {
  std::vector<complex_T> x = random_spectrum(seed);
  x[3].re = kInf;
  x[700000].im = -kInf;
  x[1048576].re = kNaN;
  return x;
}

std::vector<complex_T> fast_fft(const std::vector<double>& x, const spectral::Engine& e) {
  std::vector<complex_T> y(kN);
  fft_with(e, x.data(), y.data());
  return y;
}

std::vector<complex_T> reference_fft(const std::vector<double>& x) {
  std::vector<complex_T> y(kN);
  reference::fft(x.data(), y.data());
  return y;
}

// ------------------------------------------------------------ tables --

// Computed here without the C library's double functions: the angle step
// from pi, the two stored values as the long double functions give them,
// rounded once (the angle 262143 e rounded as a double product first).
TEST(TwiddleTables, StoredConstantsAreTheirAnglesRounded) {
  const double e = spectral::kAngleStep;
  EXPECT_EQ(bits(e), bits(std::numbers::pi / 1048576.0));
  EXPECT_EQ(bits(spectral::kCosStep),
            bits(static_cast<double>(std::cos(static_cast<long double>(e)))));
  EXPECT_EQ(bits(spectral::kSinAt262143),
            bits(static_cast<double>(std::sin(static_cast<long double>(262143.0 * e)))));
}

TEST(TwiddleTables, QuarterWaveSplitsAtAnEighthWithItsTwoStoredConstants) {
  std::vector<double> q(spectral::kQuarterLength + 1);
  q.back() = std::bit_cast<double>(kSentinel);
  spectral::quarter_wave(std::span<double, spectral::kQuarterLength>(q.data(), q.size()));
  EXPECT_EQ(bits(q.back()), kSentinel);
  const double e = spectral::kAngleStep;
  EXPECT_EQ(bits(q[0]), bits(1.0));
  EXPECT_EQ(bits(q[1]), bits(0.9999999999955118));
  EXPECT_EQ(bits(q[2]), bits(std::cos(2.0 * e)));
  EXPECT_EQ(bits(q[262144]), bits(std::cos(262144.0 * e)));
  EXPECT_EQ(bits(q[262145]), bits(0.7071046626516995));
  EXPECT_EQ(bits(q[262146]), bits(std::sin(262142.0 * e)));
  EXPECT_EQ(bits(q[524287]), bits(std::sin(1.0 * e)));
  EXPECT_EQ(bits(q[524288]), bits(0.0));

  std::vector<double> expected(spectral::kQuarterLength);
  reference::quarter_wave(expected.data());
  EXPECT_TRUE(identical(q.data(), expected.data(), spectral::kQuarterLength));
}

TEST(TwiddleTables, BuildersMatchTheReferenceWithTheirSignedZeros) {
  for (bool inverse : {false, true}) {
    SCOPED_TRACE(inverse ? "b_generate_twiddle_tables" : "generate_twiddle_tables");
    Guarded costab(kTable);
    Guarded sintab(kTable);
    // Twice: the second call reuses the cached quarter wave.
    for (int call = 0; call < 2; ++call) {
      (inverse ? b_generate_twiddle_tables : generate_twiddle_tables)(costab.get(), sintab.get());
    }
    EXPECT_TRUE(costab.intact());
    EXPECT_TRUE(sintab.intact());
    std::vector<double> rc(kTable);
    std::vector<double> rs(kTable);
    reference::twiddle_tables(rc.data(), rs.data(), inverse);
    EXPECT_TRUE(identical(costab.get(), rc.data(), kTable));
    EXPECT_TRUE(identical(sintab.get(), rs.data(), kTable));

    const double* c = costab.get();
    const double* s = sintab.get();
    EXPECT_EQ(bits(c[0]), bits(1.0));
    EXPECT_EQ(bits(s[0]), bits(0.0));
    EXPECT_EQ(bits(c[524288]), bits(0.0));
    EXPECT_EQ(bits(c[1048576]), bits(-1.0));
    EXPECT_EQ(bits(s[524288]), bits(inverse ? 1.0 : -1.0));
    EXPECT_EQ(bits(s[1048576]), bits(inverse ? 0.0 : -0.0));
    // Quadrant symmetry, exact by construction: cos(pi - a) = -cos(a).
    for (int j : {1, 2, 1000, 262144, 524287}) {
      EXPECT_EQ(bits(c[1048576 - j]), bits(-c[j])) << "j = " << j;
    }
  }
}

// ------------------------------------------------ forward transform --

TEST(Fft, UnitSamplesAndOnesGiveExactResults) {
  {
    SCOPED_TRACE("unit sample at 0");
    for_each_engine([](const spectral::Engine& e) {
      std::vector<double> x(kSpan, 0.0);
      x[0] = 1.0;
      Guarded y(2L * kN);
      fft_with(e, x.data(), reinterpret_cast<complex_T*>(y.get()));
      EXPECT_TRUE(y.intact());
      for (int k = 0; k < kN; ++k) {
        ASSERT_EQ(y.data[2 * k], 1.0) << "k = " << k;
        ASSERT_EQ(y.data[2 * k + 1], 0.0) << "k = " << k;
      }
    });
  }
  {
    SCOPED_TRACE("unit sample at 1");
    std::vector<double> costab(kTable);
    std::vector<double> sintab(kTable);
    generate_twiddle_tables(costab.data(), sintab.data());
    for_each_engine([&](const spectral::Engine& e) {
      std::vector<double> x(kSpan, 0.0);
      x[1] = 1.0;
      const std::vector<complex_T> y = fast_fft(x, e);
      EXPECT_EQ(y[0].re, 1.0);
      EXPECT_EQ(y[0].im, 0.0);
      EXPECT_EQ(y[kN / 2].re, -1.0);
      EXPECT_EQ(y[kN / 2].im, 0.0);
      EXPECT_EQ(y[524288].re, 0.0);  // e^{-i pi/2}: the forward sign
      EXPECT_EQ(y[524288].im, -1.0);
      for (int k = 1; k < kN / 2; ++k) {
        ASSERT_EQ(y[k].re, costab[k]) << "k = " << k;
        ASSERT_EQ(y[k].im, sintab[k]) << "k = " << k;
        ASSERT_EQ(y[k + kN / 2].re, -y[k].re) << "k = " << k;
        ASSERT_EQ(y[k + kN / 2].im, -y[k].im) << "k = " << k;
      }
    });
  }
  {
    SCOPED_TRACE("720000 ones");
    for_each_engine([](const spectral::Engine& e) {
      const std::vector<complex_T> y = fast_fft(std::vector<double>(kSpan, 1.0), e);
      EXPECT_EQ(bits(y[0].re), bits(720000.0));
      EXPECT_EQ(y[0].im, 0.0);
    });
  }
}

TEST(Fft, NonFiniteSamplesSpreadAsIeeeArithmeticDoes) {
  {
    SCOPED_TRACE("NaN sample");
    for (int n : {0, 719999}) {
      for_each_engine([n](const spectral::Engine& e) {
        std::vector<double> x = random_samples(7);
        x[n] = kNaN;
        const std::vector<complex_T> y = fast_fft(x, e);
        for (int k = 0; k < kN; ++k) {
          ASSERT_TRUE(std::isnan(y[k].re) || std::isnan(y[k].im)) << "n = " << n << ", k = " << k;
        }
      });
    }
  }
  {
    SCOPED_TRACE("infinite sample");
    // The zero-frequency output is a plain sum (no twiddle touches it), so one
    // +Inf gives +Inf there; every other output meets the infinity through a
    // twiddle product and has at least one non-finite component.
    for_each_engine([](const spectral::Engine& e) {
      std::vector<double> x = random_samples(8);
      x[4242] = kInf;
      const std::vector<complex_T> y = fast_fft(x, e);
      EXPECT_EQ(y[0].re, kInf);
      EXPECT_EQ(y[0].im, 0.0);
      for (int k = 0; k < kN; ++k) {
        ASSERT_FALSE(std::isfinite(y[k].re) && std::isfinite(y[k].im)) << "k = " << k;
      }
    });
  }
}

// ------------------------------------------------ inverse transform --

TEST(Ifft, ScaledImpulseIsExactAndNaNReachesEveryOutput) {
  {
    SCOPED_TRACE("scaled impulse");
    for_each_engine([](const spectral::Engine& e) {
      std::vector<complex_T> x(kN, complex_T{0.0, 0.0});
      x[0] = {2097152.0, 0.0};
      Guarded y(2L * kN);
      ifft_with(e, x.data(), reinterpret_cast<complex_T*>(y.get()));
      EXPECT_TRUE(y.intact());
      for (int k = 0; k < kN; ++k) {
        ASSERT_EQ(y.data[2 * k], 1.0) << "k = " << k;
        ASSERT_EQ(y.data[2 * k + 1], 0.0) << "k = " << k;
      }
    });
  }
  {
    SCOPED_TRACE("NaN input");
    for_each_engine([](const spectral::Engine& e) {
      std::vector<complex_T> x = random_spectrum(9);
      x[123457].im = kNaN;
      std::vector<complex_T> y(kN);
      ifft_with(e, x.data(), y.data());
      for (int k = 0; k < kN; ++k) {
        ASSERT_TRUE(std::isnan(y[k].re) || std::isnan(y[k].im)) << "k = " << k;
      }
    });
  }
}

// 2-norm of the difference of two complex arrays, relative to the norm of b,
// accumulated in long double.
double relative_error(const double* a, const double* b, long n) {
  long double diff = 0.0L;
  long double norm = 0.0L;
  for (long k = 0; k < n; ++k) {
    const long double d = static_cast<long double>(a[k]) - b[k];
    diff += d * d;
    norm += static_cast<long double>(b[k]) * b[k];
  }
  return static_cast<double>(std::sqrt(diff / norm));
}

TEST(TransformProperties, InverseUndoesForwardAndParsevalHolds) {
  const std::vector<double> x = random_samples(11);
  for_each_engine([&](const spectral::Engine& e) {
    const std::vector<complex_T> spectrum = fast_fft(x, e);
    std::vector<complex_T> back(kN);
    ifft_with(e, spectrum.data(), back.data());

    // The padded input as complex values, and the round trip against it.
    std::vector<double> padded(2L * kN, 0.0);
    for (int n = 0; n < kSpan; ++n) {
      padded[2 * n] = x[n];
    }
    EXPECT_LE(relative_error(doubles(back), padded.data(), 2L * kN), 2 * kTransformError);
    for (int n : {0, 1, 719999}) {
      EXPECT_NEAR(back[n].re, x[n], 32767.0 * 2 * kTransformError * std::sqrt(double{kSpan}));
    }

    // Parseval: sum |X_k|^2 = N sum x_n^2.
    long double energy = 0.0L;
    long double spectral_energy = 0.0L;
    for (double v : x) {
      energy += static_cast<long double>(v) * v;
    }
    for (const complex_T& c : spectrum) {
      spectral_energy +=
          static_cast<long double>(c.re) * c.re + static_cast<long double>(c.im) * c.im;
    }
    const double ratio = static_cast<double>(spectral_energy / (energy * kN));
    EXPECT_NEAR(ratio, 1.0, 2 * kTransformError + 1e-15);
  });
}

// --------------------------------------------------- cross-correlation --

std::vector<double> fast_xcorr(const std::vector<double>& x, const std::vector<double>& y,
                               const spectral::Engine& e) {
  std::vector<double> r(kLags);
  xcorr_with(e, x.data(), y.data(), r.data());
  return r;
}

long double direct_lag(const std::vector<double>& x, const std::vector<double>& y, int m) {
  long double acc = 0.0L;
  for (int n = std::max(0, -m); n < kSpan && n + m < kSpan; ++n) {
    acc += static_cast<long double>(x[n + m]) * y[n];
  }
  return acc;
}

double norm2(const std::vector<double>& x) {
  long double acc = 0.0L;
  for (double v : x) {
    acc += static_cast<long double>(v) * v;
  }
  return static_cast<double>(std::sqrt(acc));
}

// Error of one lag: the transforms' 2-norm errors, turned into a bound per
// element through |Y_k| <= sqrt(L) |y|_2, and the inverse's own error:
// |r_j - R(m)| <= 2 log2(N) eta sqrt(L) |x|_2 |y|_2 (a loose bound; lag or
// sign mistakes are of the size |x|_2 |y|_2 itself).
double lag_tolerance(const std::vector<double>& x, const std::vector<double>& y) {
  return 2 * kTransformError * std::sqrt(double{kSpan}) * norm2(x) * norm2(y);
}

TEST(Xcorr, UnitSamplesZerosAndOnes) {
  {
    SCOPED_TRACE("unit samples");
    for_each_engine([](const spectral::Engine& e) {
      std::vector<double> x(kSpan, 0.0);
      x[0] = 1.0;
      Guarded r(kLags);
      xcorr_with(e, x.data(), x.data(), r.get());
      EXPECT_TRUE(r.intact());
      for (int j = 0; j < kLags; ++j) {
        ASSERT_EQ(r.data[j], j == kSpan - 1 ? 1.0 : 0.0) << "j = " << j;
      }
    });
  }
  {
    SCOPED_TRACE("zeros");
    for_each_engine([](const spectral::Engine& e) {
      const std::vector<double> zeros(kSpan, 0.0);
      std::vector<double> r = fast_xcorr(zeros, zeros, e);
      b_abs(r.data(), r.data());
      for (int j = 0; j < kLags; ++j) {
        ASSERT_EQ(bits(r[j]), bits(0.0)) << "j = " << j;
      }
    });
  }
  {
    SCOPED_TRACE("ones");
    const std::vector<double> ones(kSpan, 1.0);
    const double tol = lag_tolerance(ones, ones);
    for_each_engine([&](const spectral::Engine& e) {
      const std::vector<double> r = fast_xcorr(ones, ones, e);
      for (int j = 0; j < kLags; ++j) {
        ASSERT_NEAR(r[j], 720000.0 - std::abs(j - 719999), tol) << "j = " << j;
      }
      EXPECT_EQ(std::max_element(r.begin(), r.end()) - r.begin(), 719999);
    });
  }
}

TEST(Xcorr, UnitSampleOffsetsLandAtTheirLags) {
  for (int d : {0, 1, 4800, 719999}) {
    for_each_engine([d](const spectral::Engine& e) {
      std::vector<double> at_d(kSpan, 0.0);
      std::vector<double> at_0(kSpan, 0.0);
      at_d[d] = 1.0;
      at_0[0] = 1.0;
      const double tol = lag_tolerance(at_d, at_0);
      // x delayed behind y: positive lag; y delayed behind x: negative lag.
      const std::vector<double> positive = fast_xcorr(at_d, at_0, e);
      const std::vector<double> negative = fast_xcorr(at_0, at_d, e);
      for (int j = 0; j < kLags; ++j) {
        ASSERT_NEAR(positive[j], j == 719999 + d ? 1.0 : 0.0, tol) << "d = " << d << ", j = " << j;
        ASSERT_NEAR(negative[j], j == 719999 - d ? 1.0 : 0.0, tol) << "d = " << d << ", j = " << j;
      }
    });
  }
}

TEST(Xcorr, ExtremeAndSampledLagsEqualTheDirectSums) {
  const std::vector<double> x = random_samples(21);
  const std::vector<double> y = random_samples(22);
  const double tol = lag_tolerance(x, y);
  for_each_engine([&](const spectral::Engine& e) {
    const std::vector<double> r = fast_xcorr(x, y, e);
    // The extreme lags overlap in one sample.
    EXPECT_NEAR(r[0], x[0] * y[719999], tol);
    EXPECT_NEAR(r[kLags - 1], x[719999] * y[0], tol);
    for (int m : {-719999, -719998, -500000, -1, 0, 1, 4800, 123457, 719998, 719999}) {
      EXPECT_NEAR(r[m + 719999], static_cast<double>(direct_lag(x, y, m)), tol) << "m = " << m;
    }
  });
}

TEST(Xcorr, DelayedCopyPeaksAtItsLag) {
  const std::vector<double> x = random_samples(31);
  for (int d : {0, 4800, 360000}) {
    // y is x delayed by d samples: peak at 719999 - d (1-based 720000 - d);
    // swapped, x delayed behind y: 719999 + d.
    std::vector<double> y(kSpan, 0.0);
    std::copy(x.begin(), x.end() - d, y.begin() + d);
    for_each_engine([&](const spectral::Engine& e) {
      std::vector<double> r = fast_xcorr(x, y, e);
      b_abs(r.data(), r.data());
      EXPECT_EQ(std::max_element(r.begin(), r.end()) - r.begin(), 719999 - d) << "d = " << d;
      r = fast_xcorr(y, x, e);
      b_abs(r.data(), r.data());
      EXPECT_EQ(std::max_element(r.begin(), r.end()) - r.begin(), 719999 + d) << "d = " << d;
    });
  }
}

TEST(Xcorr, NaNOrInfinityInEitherSignalMakesEveryLagNaN) {
  // A NaN reaches every spectrum element and every lag. An infinity leaves a
  // non-finite component in every spectrum element; in the cross-spectrum
  // and the inverse it meets zeros (0 * Inf) and opposite infinities, so
  // that every lag comes out NaN as well.
  const std::vector<double> clean = random_samples(41);
  for (double bad : {kNaN, kInf}) {
    std::vector<double> dirty = clean;
    dirty[654321] = bad;
    for_each_engine([&](const spectral::Engine& e) {
      for (const auto& r : {fast_xcorr(dirty, clean, e), fast_xcorr(clean, dirty, e)}) {
        for (int j = 0; j < kLags; ++j) {
          ASSERT_TRUE(std::isnan(r[j])) << "bad sample " << bad << ", j = " << j;
        }
      }
    });
  }
}

TEST(Xcorr, ReadsBothSignalsBeforeWritingTheResult) {
  // The result may overlap the inputs: x lies in the first half of r.
  const std::vector<double> x = random_samples(51);
  const std::vector<double> y = random_samples(52);
  const std::vector<double> expected = fast_xcorr(x, y, spectral::engine());
  std::vector<double> shared(kLags);
  std::copy(x.begin(), x.end(), shared.begin());
  xcorr(shared.data(), y.data(), shared.data());
  EXPECT_TRUE(identical(shared.data(), expected.data(), kLags));
}

TEST(SpectralBoundary, NullArraysWriteNothing) {
  std::vector<double> samples = random_samples(71);
  Guarded out(2L * kN);
  auto* y = reinterpret_cast<complex_T*>(out.get());
  fft(nullptr, y);
  ifft(nullptr, y);
  xcorr(nullptr, samples.data(), out.get());
  xcorr(samples.data(), nullptr, out.get());
  b_abs(nullptr, out.get());
  generate_twiddle_tables(nullptr, out.get());
  b_generate_twiddle_tables(out.get(), nullptr);
  EXPECT_TRUE(out.intact());
  for (long k = 0; k < 2L * kN; ++k) {
    ASSERT_EQ(bits(out.data[k]), bits(0.0)) << "k = " << k;
  }
  fft(samples.data(), nullptr);
  ifft(y, nullptr);
  xcorr(samples.data(), samples.data(), nullptr);
  b_abs(samples.data(), nullptr);
  EXPECT_TRUE(std::isnan(rms(nullptr)));
}

TEST(SpectralBoundary, ResultsDoNotDependOnTheAlignmentOfTheArrays) {
  // Aligned outputs are written with streaming stores, others with plain
  // ones; both must give the same bits. Offsets in doubles from a 64-byte
  // boundary: 0 (aligned for every engine), 1 (aligned for none).
  const std::vector<double> x = random_with_zeros(81);
  const std::vector<double> y = impulsive();
  for_each_engine([&](const spectral::Engine& e) {
    std::vector<double> storage(2L * kN + 16);
    double* base = storage.data();
    while (reinterpret_cast<std::uintptr_t>(base) % 64 != 0) {
      ++base;
    }
    std::vector<complex_T> spectra[2];
    std::vector<complex_T> inverses[2];
    std::vector<double> lags[2];
    const int offsets[2] = {0, 1};
    for (int i = 0; i < 2; ++i) {
      double* out = base + offsets[i];
      fft_with(e, x.data(), reinterpret_cast<complex_T*>(out));
      spectra[i].assign(reinterpret_cast<complex_T*>(out), reinterpret_cast<complex_T*>(out) + kN);
      ifft_with(e, spectra[0].data(), reinterpret_cast<complex_T*>(out));
      inverses[i].assign(reinterpret_cast<complex_T*>(out), reinterpret_cast<complex_T*>(out) + kN);
      xcorr_with(e, x.data(), y.data(), out);
      lags[i].assign(out, out + kLags);
    }
    for (int i = 1; i < 2; ++i) {
      SCOPED_TRACE(offsets[i]);
      EXPECT_TRUE(identical(doubles(spectra[i]), doubles(spectra[0]), 2L * kN));
      EXPECT_TRUE(identical(doubles(inverses[i]), doubles(inverses[0]), 2L * kN));
      EXPECT_TRUE(identical(lags[i].data(), lags[0].data(), kLags));
    }
  });
}

// --------------------------------------- fast path against reference --

TEST(FastPath, ForwardMatchesReferenceOnSpecialOverflowingAndNonFiniteInputs) {
  for (const std::vector<double>& x : {random_with_zeros(61), impulsive(), extreme_magnitudes(62),
                                       overflowing(70), with_infinities(63), with_nan(64)}) {
    const std::vector<complex_T> expected = reference_fft(x);
    for_each_engine([&](const spectral::Engine& e) {
      const std::vector<complex_T> y = fast_fft(x, e);
      EXPECT_TRUE(identical(doubles(y), doubles(expected), 2L * kN));
    });
  }
}

TEST(FastPath, InverseMatchesReferenceOnSpecialAndNonFiniteValues) {
  const std::vector<complex_T> inputs[] = {random_spectrum(65), nonfinite_spectrum(66)};
  for (const std::vector<complex_T>& x : inputs) {
    std::vector<complex_T> expected(kN);
    reference::ifft(x.data(), expected.data());
    for_each_engine([&](const spectral::Engine& e) {
      std::vector<complex_T> y(kN);
      ifft_with(e, x.data(), y.data());
      EXPECT_TRUE(identical(doubles(y), doubles(expected), 2L * kN));
    });
  }
}

TEST(FastPath, CorrelationMatchesReferenceOnRandomAndImpulsiveSignals) {
  const std::vector<double> x = random_with_zeros(67);
  const std::vector<double> y = impulsive();
  std::vector<double> expected(kLags);
  reference::xcorr(x.data(), y.data(), expected.data());
  for_each_engine([&](const spectral::Engine& e) {
    EXPECT_TRUE(identical(fast_xcorr(x, y, e).data(), expected.data(), kLags));
  });
}

TEST(FastPath, CorrelationMatchesReferenceOnHugeTinyAndSignedZeroSignals) {
  // Magnitudes from subnormal to 1e150 (no overflow: the lags stay finite, and
  // products of tiny values underflow to zeros of either sign) against spikes
  // among zeros of both signs.
  const std::vector<double> x = extreme_magnitudes(68, 1e150);  // 1e150 * 32767 * L: finite
  std::vector<double> y = impulsive();
  y[7] = -std::numeric_limits<double>::denorm_min();
  y[700001] = 3e-310;
  std::vector<double> expected(kLags);
  reference::xcorr(x.data(), y.data(), expected.data());
  const long finite =
      std::count_if(expected.begin(), expected.end(), [](double v) { return std::isfinite(v); });
  EXPECT_EQ(finite, kLags);
  for_each_engine([&](const spectral::Engine& e) {
    EXPECT_TRUE(identical(fast_xcorr(x, y, e).data(), expected.data(), kLags));
  });
}

}  // namespace
