// lumetra_estimation end to end on the synthetic stepped stimulus and
// recordings of it made by a simulated device. Every estimation runs the
// fast path with each kernel table and the straightforward path, and demands
// identical outputs and diagnostics; one stimulus serves the whole program.
//
// Cases with a real correlation share it between the paths (a remembered
// xcorr). Cases about the peak search and the trust test replace the
// correlation by a made-up one, which pins the peak where the case needs it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <vector>

#include "lumetra.h"
#include "lumetra/estimation.h"
#include "lumetra/kernels.h"
#include "stimulus.h"
#include "support/lumetra_straight.h"
#include "support/records.h"

namespace {

using lumetra::kLags;
using lumetra::kSteps;
using namespace testing_support;

// The same outputs and diagnostics, bit for bit.
void expect_same(const lumetra::Estimate& a, const lumetra::Estimate& b, const char* what) {
  EXPECT_EQ(straight::estimate_bits(a), straight::estimate_bits(b)) << what;
}

// The estimate, proven identical on every kernel table and to the
// straightforward path.
lumetra::Estimate run(const std::vector<double>& reference, const std::vector<double>& recording,
                      double stepMode = 0.0,
                      lumetra::Correlator correlate = straight::remembered_xcorr) {
  const testing_support::Record ref = column_wrapper(reference);
  const testing_support::Record rec = column_wrapper(recording);
  const lumetra::Estimate fast =
      lumetra::estimate(ref.get(), rec.get(), stepMode, lumetra::static_workspace(),
                        {correlate, &lumetra::kernels::best()});
  const lumetra::Estimate slow = straight::estimate(ref.get(), rec.get(), stepMode, correlate);
  expect_same(fast, slow, "fast path against the straightforward path");
  const lumetra::Estimate base =
      lumetra::estimate(ref.get(), rec.get(), stepMode, lumetra::static_workspace(),
                        {correlate, lumetra::kernels::for_isa(runtime::Isa::kSse2)});
  expect_same(base, slow, "sse2 path against the straightforward path");
  // The streaming form: the openings and the lengths, then the recording in
  // chunks (whole, and a prime size that cuts blocks and steps anywhere).
  for (const std::size_t chunk : {recording.size(), std::size_t{65521}}) {
    lumetra::EstimateStream stream(
        std::span<const double>(reference).first(std::min<std::size_t>(reference.size(), 720001)),
        std::span<const double>(recording).first(std::min<std::size_t>(recording.size(), 720000)),
        static_cast<std::int64_t>(reference.size()), stepMode, lumetra::static_workspace(),
        {correlate, nullptr});
    EXPECT_EQ(bits(stream.alignment().total_delay), bits(fast.diagnostics.total_delay));
    for (std::size_t p = 0; p < recording.size(); p += chunk) {
      stream.feed_recording(
          std::span<const double>(recording).subspan(p, std::min(chunk, recording.size() - p)));
    }
    expect_same(stream.finish(), slow, "streaming form against the straightforward path");
  }
  return fast;
}

// The fast estimate alone (for repeats of a case already proven).
lumetra::Estimate fast(const std::vector<double>& reference, const std::vector<double>& recording,
                       double stepMode, lumetra::Correlator correlate) {
  const testing_support::Record ref = column_wrapper(reference);
  const testing_support::Record rec = column_wrapper(recording);
  return lumetra::estimate(ref.get(), rec.get(), stepMode, lumetra::static_workspace(),
                           {correlate, nullptr});
}

// The coarse delay the estimation will find for a pair.
double coarse_delay(const std::vector<double>& reference, const std::vector<double>& recording) {
  std::vector<double> moved(lumetra::kSpan);
  double delay = 0.0;
  double too_large = 0.0;
  lumetra::crude_align(reference, &delay, &too_large,
                       std::span<const double, lumetra::kSpan>(recording.data(), lumetra::kSpan),
                       std::span<double, lumetra::kSpan>(moved.data(), lumetra::kSpan));
  return delay;
}

std::vector<double> with(std::vector<double> x, std::size_t at, double v) {
  x[at] = v;
  return x;
}

// A made-up correlation: the correlator copies it, whatever its inputs.
std::vector<double>& made_up() {
  static std::vector<double> r(kLags, 1.0);
  return r;
}
void made_up_xcorr(const double*, const double*, double* r) noexcept {
  std::copy(made_up().begin(), made_up().end(), r);
}
// Magnitude 1 everywhere but `height` at 1-based index `peak`.
void spike_at(std::int32_t peak, double height = 1e6) {
  std::fill(made_up().begin(), made_up().end(), 1.0);
  made_up()[static_cast<std::size_t>(peak - 1)] = height;
}
// The made-up correlation as the magnitudes the trust test reads (its
// values are positive).
std::span<const double, kLags> made_up_magnitudes() {
  return std::span<const double, kLags>(made_up().data(), kLags);
}
// The 1-based peak index at which a case with coarse delay `coarse` gets
// total delay `total`.
std::int32_t peak_for(double coarse, double total) {
  return static_cast<std::int32_t>(720000.0 - coarse - total);
}

class Estimation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lumetra_estimation_initialize();
    reference_ = new std::vector<double>(stimulus::stepped_reference({}));
    const auto n = static_cast<std::int64_t>(reference_->size());
    own_ = lumetra::measure({reference_->data(), n, n}, lumetra::step_layout(25.2, n));
  }
  static void TearDownTestSuite() {
    delete reference_;
    reference_ = nullptr;
  }
  static const std::vector<double>& reference() { return *reference_; }
  static std::vector<double> record(const stimulus::Device& device) {
    return stimulus::record(reference(), device, 25.2);
  }
  static std::vector<double> delayed(std::int64_t d) {
    stimulus::Device device;
    device.delay = d;
    return record(device);
  }
  // The reference's own step levels, spreads and peak level.
  static void expect_own_levels(const lumetra::Estimate& e, const char* what) {
    for (int k = 0; k < kSteps; ++k) {
      EXPECT_EQ(bits(e.step_level[k]), bits(own_.step_level[k])) << what << " step " << k + 1;
      EXPECT_EQ(bits(e.step_range[k]), bits(own_.step_range[k])) << what << " step " << k + 1;
    }
  }
  // Levels measured on silence after a failed alignment.
  static void expect_silence(const lumetra::Estimate& e, const char* what) {
    EXPECT_EQ(e.failed, 1.0) << what;
    EXPECT_EQ(e.diagnostics.copy, lumetra::Copy::kFailed) << what;
    for (int k = 0; k < kSteps; ++k) {
      EXPECT_EQ(e.step_level[k], -kInf) << what << " step " << k + 1;
      EXPECT_EQ(e.step_range[k], kInf) << what << " step " << k + 1;
    }
    EXPECT_EQ(bits(e.peak_level), bits(20.0 * std::log10(1e-6 / 32767.0))) << what;
  }

  static std::vector<double>* reference_;
  static lumetra::Levels own_;
};

std::vector<double>* Estimation::reference_ = nullptr;
lumetra::Levels Estimation::own_{};

// A unit-gain recording delayed by d: the aligned recording is the reference
// itself, so totalDelay is right exactly when the reference's own step levels
// come back to the last bit.
class DelayedCopy : public Estimation, public ::testing::WithParamInterface<std::int64_t> {};

TEST_P(DelayedCopy, MeasuresTheReferenceItself) {
  const std::int64_t d = GetParam();
  const lumetra::Estimate e = run(reference(), delayed(d));
  EXPECT_EQ(e.failed, 0.0);
  EXPECT_EQ(e.diagnostics.causes, 0u);
  EXPECT_EQ(e.diagnostics.total_delay, static_cast<double>(d));
  EXPECT_EQ(e.diagnostics.copy, lumetra::Copy::kWhole);
  EXPECT_LT(e.diagnostics.trust_ratio, lumetra::kTrustLimit);
  expect_own_levels(e, "delayed copy");
  EXPECT_EQ(bits(e.peak_level), bits(own_.peak_level));
}

INSTANTIATE_TEST_SUITE_P(Samples, DelayedCopy,
                         ::testing::Values(std::int64_t{1}, std::int64_t{240}, std::int64_t{48000},
                                           std::int64_t{239999}, std::int64_t{240000}));

TEST_F(Estimation, DeviceGainsAndNoiseComeBackAsStepLevels) {
  stimulus::Device device;
  device.delay = 33333;
  device.step_gain_db = {1.0, -2.0, 3.0, -4.0, 0.5, -0.5, 6.0, -6.0, 2.5, -1.5, 0.0};
  device.opening_gain_db = -3.0;
  device.noise_db = -90.0;
  const std::vector<double> recording = record(device);
  const lumetra::Estimate e = run(reference(), recording);
  EXPECT_EQ(e.failed, 0.0);
  EXPECT_EQ(e.diagnostics.total_delay, 33333.0);
  EXPECT_NEAR(e.diagnostics.total_delay_ms(), 694.4375, 1e-9);
  for (int k = 0; k < kSteps; ++k) {
    // The noise, 54 dB or more below each step, moves a level by < 0.001 dB.
    EXPECT_NEAR(e.step_level[k], own_.step_level[k] + device.step_gain_db[k], 1e-3) << k + 1;
    EXPECT_LT(e.step_range[k], 0.05) << k + 1;
  }

  // The exported function gives the same outputs, correlating for itself.
  const testing_support::Record ref = column_wrapper(reference());
  const testing_support::Record rec = column_wrapper(recording);
  double level[kSteps];
  double range[kSteps];
  double peak = 0.0;
  double failed = -1.0;
  lumetra_estimation(ref.get(), rec.get(), 7.0, kNaN, 0.0, level, range, &peak, &failed);
  for (int k = 0; k < kSteps; ++k) {
    EXPECT_EQ(bits(level[k]), bits(e.step_level[k]));
    EXPECT_EQ(bits(range[k]), bits(e.step_range[k]));
  }
  EXPECT_EQ(bits(peak), bits(e.peak_level));
  EXPECT_EQ(failed, 0.0);
}

TEST_F(Estimation, InvertedPolarityMeasuresTheSameStepsAndItsOwnPeak) {
  stimulus::Device device;
  device.delay = 4801;
  device.invert = true;
  const std::vector<double> recording = record(device);
  const lumetra::Estimate e = run(reference(), recording);
  EXPECT_EQ(e.failed, 0.0);
  EXPECT_EQ(e.diagnostics.total_delay, 4801.0);
  expect_own_levels(e, "inverted");
  // The peak level is signed: the inverted signal's largest sample is the
  // reference's most negative one.
  const double most_negative = *std::min_element(reference().begin(), reference().end());
  EXPECT_EQ(bits(e.peak_level), bits(20.0 * std::log10((-most_negative + 1e-6) / 32767.0)));
}

// One correlation serves every variant: they share the first 720000 samples.
TEST_F(Estimation, VariantsOfOneDelayedRecording) {
  const std::int64_t d = 48000;
  const std::vector<double> plain = delayed(d);
  const auto n = static_cast<std::int64_t>(reference().size());
  const lumetra::StepLayout layout = lumetra::step_layout(25.2, n);

  // Shorter than Nref + totalDelay: the tail is 0.0, later steps measure
  // -Inf, failed stays 0.
  const std::int64_t cut = layout.settled[8].first + 1000;
  const std::vector<double> shorter(plain.begin(), plain.begin() + d + cut);
  const lumetra::Estimate s = run(reference(), shorter);
  EXPECT_EQ(s.failed, 0.0);
  EXPECT_EQ(s.diagnostics.copy, lumetra::Copy::kHead);
  EXPECT_EQ(s.diagnostics.aligned_samples, cut);
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(bits(s.step_level[k]), bits(own_.step_level[k])) << k + 1;
  }
  EXPECT_LT(s.step_level[8], own_.step_level[8]);
  EXPECT_EQ(s.step_range[8], kInf);
  EXPECT_EQ(s.step_level[9], -kInf);
  EXPECT_EQ(s.step_level[10], -kInf);

  // A NaN in step 2's settled half, an infinity in step 5's.
  std::vector<double> spoiled = plain;
  spoiled[static_cast<std::size_t>(d + layout.settled[1].first + 5000)] = kNaN;
  spoiled[static_cast<std::size_t>(d + layout.settled[4].first + 7)] = -kInf;
  const lumetra::Estimate p = run(reference(), spoiled);
  EXPECT_EQ(p.failed, 0.0);
  EXPECT_TRUE(std::isnan(p.step_level[1]));
  EXPECT_GE(p.step_range[1], 0.0);  // the NaN block is skipped
  EXPECT_EQ(p.step_level[4], kInf);
  EXPECT_EQ(p.step_range[4], kInf);

  // Any stepMode but 0.0 lays out 24.7 s steps.
  const lumetra::Estimate base = run(reference(), plain, 1.0);
  for (const double mode : {-1.0, kNaN, 1e300}) {
    expect_same(fast(reference(), plain, mode, straight::remembered_xcorr), base, "24.7 s steps");
  }
  EXPECT_EQ(base.failed, 0.0);
  const lumetra::Levels own_short =
      lumetra::measure({reference().data(), n, n}, lumetra::step_layout(24.7, n));
  for (int k = 0; k < kSteps; ++k) {
    EXPECT_EQ(bits(base.step_level[k]), bits(own_short.step_level[k])) << k + 1;
  }
  // Step 11 now starts in the stimulus' step 10: its settled half spans two
  // tones 17 dB apart.
  EXPECT_GT(base.step_range[10], 10.0);
}

// Recordings whose alignment fails, each measured as silence: the causes
// (all of them, or among them when `among`) and the total delay.
TEST_F(Estimation, FailedAlignmentsMeasureSilence) {
  struct Case {
    const char* what;
    std::vector<double> (*recording)();
    std::uint32_t causes;
    bool among;
    double total_delay;  // NaN: not stated
  };
  const Case cases[] = {
      {"240001 samples late", [] { return delayed(240001); }, lumetra::kDelayOutOfRange, false,
       240001.0},
      {"leading", [] { return delayed(-4800); }, lumetra::kNotLagging, false, -4800.0},
      {"identical", [] { return reference(); }, lumetra::kNotLagging, false, 0.0},
      {"silent", [] { return std::vector<double>(reference().size() + 1000, 0.0); },
       lumetra::kDelayOutOfRange, true, kNaN},
      // The correlation is NaN throughout: its first value is the peak.
      {"a NaN in the opening", [] { return with(delayed(1200), 300000, kNaN); },
       lumetra::kDelayOutOfRange, true, kNaN},
  };
  for (const Case& c : cases) {
    const lumetra::Estimate e = run(reference(), c.recording());
    const std::uint32_t causes = e.diagnostics.causes & (c.among ? c.causes : ~0u);
    EXPECT_EQ(causes, c.causes) << c.what;
    EXPECT_TRUE(same_result(e.diagnostics.total_delay, c.total_delay) || std::isnan(c.total_delay))
        << c.what;
    expect_silence(e, c.what);
  }
}

TEST_F(Estimation, ToneOpeningGivesNoProminentPeak) {
  // A tone correlates with itself at every period: the peak is right but
  // the lags around it are nearly as large. The tone fades, so that the
  // peak stays at the true lag although the moved recording ends in zeros.
  std::vector<double> tonal = reference();
  for (std::size_t i = 0; i < 720000; ++i) {
    const double fade = 1.0 - static_cast<double>(i) / 1440000.0;
    tonal[i] = 10000.0 * fade * std::sin(6.283185307179586 * static_cast<double>(i % 48) / 48.0);
  }
  stimulus::Device device;
  device.delay = 4800;
  const lumetra::Estimate e = run(tonal, stimulus::record(tonal, device, 25.2));
  EXPECT_EQ(e.diagnostics.total_delay, 4800.0);
  EXPECT_GT(e.diagnostics.trust_ratio, 0.3);
  EXPECT_EQ(e.diagnostics.causes, lumetra::kPeakNotProminent);
  expect_silence(e, "tone opening");
}

// The reference with `shift` zeros in front (its length kept): its onset
// comes `shift` samples later, making the coarse delay positive.
std::vector<double> late(const std::vector<double>& x, std::size_t shift) {
  std::vector<double> y(x.size(), 0.0);
  std::copy(x.begin(), x.end() - static_cast<long>(shift), y.begin() + static_cast<long>(shift));
  return y;
}

TEST_F(Estimation, TrustCausesEachOnTheirOwn) {
  // Coarse delay above 360000 with an acceptable total delay.
  const std::vector<double> late400 = late(reference(), 400000);
  const double coarse400 = coarse_delay(late400, reference());
  EXPECT_GT(coarse400, 360000.0);
  spike_at(peak_for(coarse400, 100000.0));
  lumetra::Estimate e = run(late400, reference(), 0.0, made_up_xcorr);
  EXPECT_EQ(e.diagnostics.causes, lumetra::kCoarseTooLarge);
  expect_silence(e, "coarse too large");

  // Peaks too near the upper end (a recording 500000 late) and the lower end
  // (a reference 300000 late) of the correlation.
  const std::vector<double> rec500 = delayed(500000);
  const double coarse_up = coarse_delay(reference(), rec500);
  spike_at(peak_for(coarse_up, 10000.0));
  e = run(reference(), rec500, 0.0, made_up_xcorr);
  EXPECT_GT(e.diagnostics.peak.index, lumetra::kLastTrustedPeak);
  EXPECT_EQ(e.diagnostics.causes, lumetra::kPeakNearEnd);
  expect_silence(e, "peak near the upper end");

  const std::vector<double> late300 = late(reference(), 300000);
  const double coarse_down = coarse_delay(late300, reference());
  EXPECT_GT(coarse_down, 0.0);
  EXPECT_LE(coarse_down, 360000.0);
  spike_at(peak_for(coarse_down, 220000.0));
  e = run(late300, reference(), 0.0, made_up_xcorr);
  EXPECT_LT(e.diagnostics.peak.index, lumetra::kFirstTrustedPeak);
  EXPECT_EQ(e.diagnostics.causes, lumetra::kPeakNearEnd);

  // A trust ratio of 0.04 passes, the next double above it fails: with
  // 480000 values of 1 around a peak of h the ratio is 1 / h, 0.04 at 25,
  // and a peak a few ulps below 25 gives the next double.
  const std::vector<double> rec = delayed(7000);
  const double coarse = coarse_delay(reference(), rec);
  const std::int32_t peak = peak_for(coarse, 7000.0);
  spike_at(peak, 25.0);
  e = run(reference(), rec, 0.0, made_up_xcorr);
  EXPECT_EQ(e.diagnostics.trust_ratio, 0.04);
  EXPECT_EQ(e.failed, 0.0);
  expect_own_levels(e, "ratio at the limit");
  const double above = std::nextafter(0.04, 1.0);
  double h = 25.0;
  while (lumetra::trust_ratio(made_up_magnitudes(), {peak, h}) <= 0.04) {
    h = std::nextafter(h, 0.0);
    spike_at(peak, h);
  }
  ASSERT_EQ(lumetra::trust_ratio(made_up_magnitudes(), {peak, h}), above);
  e = run(reference(), rec, 0.0, made_up_xcorr);
  EXPECT_EQ(e.diagnostics.trust_ratio, above);
  EXPECT_EQ(e.diagnostics.causes, lumetra::kPeakNotProminent);
  expect_silence(e, "ratio one ulp above the limit");

  // No usable block: a NaN in every block of every settled half.
  std::vector<double> spoiled = rec;
  const auto n = static_cast<std::int64_t>(reference().size());
  const lumetra::StepLayout layout = lumetra::step_layout(25.2, n);
  for (int k = 0; k < kSteps; ++k) {
    for (std::int64_t j = 0; j < layout.blocks[k]; ++j) {
      spoiled[static_cast<std::size_t>(7000 + layout.settled[k].first + 2400 * j + 1)] = kNaN;
    }
  }
  spike_at(peak_for(coarse, 7000.0));
  e = run(reference(), spoiled, 0.0, made_up_xcorr);
  EXPECT_EQ(e.diagnostics.causes, lumetra::kNoUsableBlock);
  EXPECT_EQ(e.failed, 1.0);
  for (int k = 0; k < kSteps; ++k) {
    EXPECT_TRUE(std::isnan(e.step_level[k]));
    EXPECT_EQ(e.step_range[k], -120.0);
  }
}

TEST_F(Estimation, PeakSearchOnAdversarialCorrelations) {
  const std::vector<double> rec = delayed(2500);
  const double coarse = coarse_delay(reference(), rec);
  const std::int32_t right = peak_for(coarse, 2500.0);

  // NaN first, and negative values (the magnitudes are what counts; ties
  // and the peak search itself: lumetra_steps_test.cpp).
  spike_at(right);
  std::fill_n(made_up().begin(), 1000, kNaN);
  made_up()[static_cast<std::size_t>(right - 1)] = -1e6;
  lumetra::Estimate e = run(reference(), rec, 0.0, made_up_xcorr);
  EXPECT_EQ(e.diagnostics.peak.index, right);
  EXPECT_EQ(e.diagnostics.peak.value, 1e6);
  EXPECT_EQ(e.failed, 0.0);

  // A peak of 0 after NaNs: the ratio is NaN, which does not exceed the
  // limit, so the alignment stands.
  std::fill(made_up().begin(), made_up().begin() + (right - 1), kNaN);
  std::fill(made_up().begin() + (right - 1), made_up().end(), 0.0);
  e = run(reference(), rec, 0.0, made_up_xcorr);
  EXPECT_EQ(e.diagnostics.peak.index, right);
  EXPECT_TRUE(std::isnan(e.diagnostics.trust_ratio));
  EXPECT_EQ(e.failed, 0.0);
  expect_own_levels(e, "NaN ratio");
}

TEST_F(Estimation, CallsDoNotDependOnEarlierCalls) {
  const std::vector<double> rec = delayed(9000);
  const double coarse = coarse_delay(reference(), rec);
  spike_at(peak_for(coarse, 9000.0));
  const lumetra::Estimate first = run(reference(), rec, 0.0, made_up_xcorr);
  EXPECT_EQ(first.failed, 0.0);
  // Another call in between, with other input, another layout and a failure.
  spike_at(peak_for(coarse, -3.0));
  EXPECT_EQ(fast(reference(), reference(), 1.0, made_up_xcorr).failed, 1.0);
  spike_at(peak_for(coarse, 9000.0));
  expect_same(fast(reference(), rec, 0.0, made_up_xcorr), first, "again");
}

// Outputs of a refused call: failed 1.0, every level NaN.
void expect_refused(const emxArray_real_T* ref, const emxArray_real_T* rec, double stepMode,
                    std::uint32_t cause, const char* what) {
  double level[kSteps + 1];
  double range[kSteps + 1];
  std::fill_n(level, kSteps + 1, 5.0);
  std::fill_n(range, kSteps + 1, 5.0);
  double peak = 5.0;
  double failed = 5.0;
  lumetra_estimation(ref, rec, 0.0, 0.0, stepMode, level, range, &peak, &failed);
  EXPECT_EQ(failed, 1.0) << what;
  for (int k = 0; k < kSteps; ++k) {
    EXPECT_TRUE(std::isnan(level[k])) << what;
    EXPECT_TRUE(std::isnan(range[k])) << what;
  }
  EXPECT_EQ(level[kSteps], 5.0) << what << ": written past stepLevel";
  EXPECT_EQ(range[kSteps], 5.0) << what << ": written past stepRange";
  EXPECT_TRUE(std::isnan(peak)) << what;
  const lumetra::Estimate e = lumetra::estimate(ref, rec, stepMode, lumetra::static_workspace());
  EXPECT_EQ(e.diagnostics.causes, cause) << what;
  EXPECT_EQ(e.diagnostics.peak.index, 0) << what;
}

TEST_F(Estimation, RefusedInputsGiveNaNLevels) {
  using lumetra::kShortInput;
  using lumetra::kUnreadableInput;
  const testing_support::Record ref = column_wrapper(reference());
  const std::vector<double> long_rec = delayed(100);
  const testing_support::Record rec = column_wrapper(long_rec);
  // Records that cannot be read, as a host may fill the fields itself.
  double* data = const_cast<double*>(reference().data());
  const auto n = static_cast<std::int32_t>(reference().size());
  std::int32_t column[2] = {n, 1};
  std::int32_t zero[2] = {n, 0};
  std::int32_t negative[2] = {n, -1};
  std::int32_t negative_count[2] = {-5, 1};
  std::int32_t two_to_31[2] = {1 << 16, 1 << 15};  // 2^31 samples: one past INT32_MAX
  const emxArray_real_T no_data{nullptr, column, n, 2, 0};
  const emxArray_real_T no_size{data, nullptr, n, 2, 0};
  const emxArray_real_T no_dims{data, column, n, 0, 0};
  const emxArray_real_T zero_extent{data, zero, n, 2, 0};
  const emxArray_real_T negative_extent{data, negative, n, 2, 0};
  const emxArray_real_T negative_samples{data, negative_count, n, 2, 0};
  const emxArray_real_T past_int32{data, two_to_31, n, 2, 0};
  // Too short: the reference for the step period, the recording below
  // 720000; an empty record with null data is short, not unreadable.
  const std::vector<double> short_ref(reference().begin(), reference().begin() + 12816000 - 1);
  const std::vector<double> tiny_ref(720000, 1.0);
  const std::vector<double> short_rec(long_rec.begin(), long_rec.begin() + 719999);
  const testing_support::Record sr = column_wrapper(short_ref);
  const testing_support::Record tr = column_wrapper(tiny_ref);
  const testing_support::Record sc = column_wrapper(short_rec);
  emxArray_real_T* empty_record = nullptr;
  emxInitArray_real_T(&empty_record, 1);
  const testing_support::Record empty(empty_record);
  struct Case {
    const char* what;
    const emxArray_real_T* ref;
    const emxArray_real_T* rec;
    double stepMode;
    std::uint32_t causes;
  };
  const Case cases[] = {
      {"null reference", nullptr, rec.get(), 0.0, kUnreadableInput},
      {"null recording", ref.get(), nullptr, 0.0, kUnreadableInput},
      {"both null", nullptr, nullptr, 0.0, kUnreadableInput},
      {"null data", &no_data, rec.get(), 0.0, kUnreadableInput},
      {"null size", &no_size, rec.get(), 0.0, kUnreadableInput},
      {"no dimensions", &no_dims, rec.get(), 0.0, kUnreadableInput},
      {"a zero extent", &zero_extent, rec.get(), 0.0, kUnreadableInput},
      {"a negative extent", &negative_extent, rec.get(), 0.0, kUnreadableInput},
      {"a negative sample count", &negative_samples, rec.get(), 0.0, kUnreadableInput},
      {"a reference of 2^31 samples", &past_int32, rec.get(), 0.0, kUnreadableInput},
      {"a recording of 2^31 samples", ref.get(), &past_int32, 0.0, kUnreadableInput},
      {"reference short for 25.2 s", sr.get(), rec.get(), 0.0, kShortInput},
      {"reference of 720000", tr.get(), rec.get(), 1.0, kShortInput},
      {"recording of 719999", ref.get(), sc.get(), 0.0, kShortInput},
      {"null reference, short recording", nullptr, sc.get(), 0.0, kUnreadableInput | kShortInput},
      {"empty recording", ref.get(), empty.get(), 0.0, kShortInput},
  };
  for (const Case& c : cases) {
    expect_refused(c.ref, c.rec, c.stepMode, c.causes, c.what);
  }
  const lumetra::Estimate ok = lumetra::estimate(
      sr.get(), rec.get(), 1.0, lumetra::static_workspace(), {straight::remembered_xcorr, nullptr});
  EXPECT_EQ(ok.failed, 0.0) << "long enough for 24.7 s steps";
}

TEST_F(Estimation, NullOutputPointersAreLeftAlone) {
  const std::vector<double> tiny(10, 1.0);
  const testing_support::Record t = column_wrapper(tiny);
  lumetra_estimation(t.get(), t.get(), 0.0, 0.0, 0.0, nullptr, nullptr, nullptr, nullptr);
  double failed = 0.0;
  double level[kSteps];
  lumetra_estimation(t.get(), t.get(), 0.0, 0.0, 0.0, level, nullptr, nullptr, &failed);
  EXPECT_EQ(failed, 1.0);
  EXPECT_TRUE(std::isnan(level[0]));
}

TEST(LumetraLifecycle, InitializeSetsTheNonFiniteGlobals) {
  lumetra_estimation_initialize();
  EXPECT_EQ(bits(rtNaN), 0xFFF8000000000000u);
  EXPECT_EQ(rtInf, kInf);
  EXPECT_EQ(rtMinusInf, -kInf);
  EXPECT_EQ(rtIsInf(-kInf), 1);
  lumetra_estimation_terminate();
  EXPECT_EQ(bits(rtNaN), 0xFFF8000000000000u);
}

}  // namespace
