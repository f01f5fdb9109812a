// SNR of a measured signal in the frames that a gate signal marks active,
// against its power in the frames the gate leaves inactive.
// Sample positions count from 1 in the comments, frames from 0.
#include <cmath>
#include <cstdint>

#include "quenbar.h"
#include "quenbar/snr.h"
#include "runtime/emx.h"
#include "runtime/fpu.h"
#include "runtime/sum.h"

namespace quenbar {
namespace {

constexpr double kFrameSeconds = 0.005;  // 5 ms frames
constexpr double kFullScale = 32767.0;   // 16-bit full scale
constexpr double kLevelOffset = 1e-6;    // added to the frame RMS before the log
constexpr double kFloorDb = -120.0;      // clamp of quiet (and NaN) frames
constexpr double kActiveDb = -70.0;      // smoothed level above this is active
constexpr double kKeep = 0.9;            // weight of the frame's own level
// Weight of the previous smoothed level: 1 - 0.9 evaluated in doubles, one
// ulp below the double nearest 0.1.
constexpr double kCarry = 0.09999999999999998;
static_assert(kCarry == 1.0 - kKeep);
constexpr double kRatioFloor = 1e-12;  // puts -120 dB under a zero ratio

Estimate failed(Outcome why, double frame_length = 0.0) {
  Estimate e{};
  e.snr_db = rtGetNaN();
  e.frame_length = frame_length;
  e.noise_power = rtGetNaN();
  e.outcome = why;
  return e;
}

Outcome classify(const Estimate& e) {
  if (e.frame_count < 1.0) return Outcome::kNoFrames;
  if (e.active_frames == e.frame_count) return Outcome::kNoInactiveFrame;
  if (e.active_frames == 0.0) return Outcome::kNoActiveFrame;
  if (std::isnan(e.snr_db)) return Outcome::kSignalBelowNoise;
  if (std::isinf(e.snr_db)) return Outcome::kZeroNoise;
  return Outcome::kFinite;
}

}  // namespace

Estimate estimate(const emxArray_real_T* gate, const emxArray_real_T* measured,
                  double fs) noexcept {
  if (gate == nullptr || measured == nullptr || gate->numDims < 1 || gate->size == nullptr ||
      gate->size[0] < 0) {
    return failed(Outcome::kBadInput);
  }
  const double L = std::floor(kFrameSeconds * fs);
  if (!(L >= 1.0) || std::isinf(L)) {
    return failed(Outcome::kBadRate, std::isnan(L) ? 0.0 : L);
  }
  const double N = gate->size[0];
  const double F = std::floor(N / L);
  // F <= N < 2^31, so the conversion is exact and defined.
  const auto numFrames = static_cast<std::int32_t>(F);
  const std::int64_t measured_count = runtime::element_count(*measured);
  if (numFrames > 0) {
    if (gate->data == nullptr || measured->data == nullptr || measured_count < 0) {
      return failed(Outcome::kBadInput, L);
    }
    if (static_cast<double>(measured_count) < F * L) {
      return failed(Outcome::kShortMeasured, L);
    }
  }
  const auto frame = static_cast<std::int32_t>(L > N ? 0.0 : L);

  runtime::WorkArray levels;
  runtime::WorkArray flags;
  runtime::WorkArray powers;
  runtime::WorkArray scratch;
  if (!levels.resize(numFrames) || !flags.resize(numFrames) || !powers.resize(numFrames) ||
      !scratch) {
    return failed(Outcome::kOutOfMemory, L);
  }
  double active_sum = 0.0;
  double inactive_sum = 0.0;
  for (std::int32_t i = 0; i < numFrames; ++i) {
    const double s = ((i + 1.0) - 1.0) * L + 1.0;
    const auto first = static_cast<std::int64_t>(s) - 1;
    if (!scratch.resize(frame)) {
      return failed(Outcome::kOutOfMemory, L);
    }
    double* sq = scratch.data();
    for (std::int32_t k = 0; k < frame; ++k) {
      const double v = gate->data[first + k];
      sq[k] = v * v;
    }
    const double mean = runtime::record_sum(scratch.get()) / static_cast<double>(frame);
    const double r = std::sqrt(mean);
    double level = 20.0 * std::log10((r + kLevelOffset) / kFullScale);
    if (level < kFloorDb || std::isnan(level)) {
      level = kFloorDb;
    }
    for (std::int32_t k = 0; k < frame; ++k) {
      const double v = measured->data[first + k];
      sq[k] = v * v;
    }
    const double power = runtime::record_sum(scratch.get()) / L;
    powers.data()[i] = power;
    if (i >= 1) {
      const double own = level * kKeep;
      const double carried = levels.data()[i - 1] * kCarry;
      level = own + carried;
    }
    levels.data()[i] = level;
    if (level > kActiveDb) {
      flags.data()[i] = 1.0;
      active_sum += power;
    } else {
      inactive_sum += power;
    }
  }
  Estimate e{};
  e.frame_length = L;
  e.frame_count = F;
  e.active_power_sum = active_sum;
  e.inactive_power_sum = inactive_sum;
  const double A = runtime::record_sum(flags.get());
  e.active_frames = A;
  const double Pn = inactive_sum / (F - A);
  e.noise_power = Pn;
  const double excess = active_sum - A * Pn;
  const double ratio = (excess / A) / Pn;
  e.snr_db = 10.0 * std::log10(kRatioFloor + ratio);
  e.outcome = classify(e);
  return e;
}

}  // namespace quenbar

extern "C" {

void SNR_estimation(const emxArray_real_T* gateSignal, const emxArray_real_T* measuredSignal,
                    double fs, double* snrDb, double* extraOut) noexcept {
  const runtime::FpuPrecision fpu;
  if (extraOut != nullptr) {
    *extraOut = 0.0;
  }
  const quenbar::Estimate e = quenbar::estimate(gateSignal, measuredSignal, fs);
  if (snrDb != nullptr) {
    *snrDb = e.snr_db;
  }
}

double sum(const emxArray_real_T* x) noexcept { return runtime::record_sum(x); }

}  // extern "C"
