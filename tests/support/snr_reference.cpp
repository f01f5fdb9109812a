// Straightforward SNR estimate (see snr_reference.h). Sample positions count
// from 1 in the comments, frames from 0. The constants are written here as the
// formula gives them, independently of the library's own.
#include "support/snr_reference.h"

#include <cmath>
#include <cstdint>

#include "runtime/emx.h"
#include "runtime/sum.h"

namespace reference {

SnrTrace snr(const emxArray_real_T* gate, const emxArray_real_T* measured, double fs) {
  SnrTrace t;
  const double nan = std::nan("");
  t.snr_db = nan;
  t.noise_power = nan;
  const double L = std::floor(0.005 * fs);
  t.frame_length = L;
  if (!(L >= 1.0)) {
    return t;
  }
  const double N = gate->size[0];
  const double F = std::floor(N / L);
  t.frame_count = F;
  const auto numFrames = static_cast<std::int32_t>(F);
  const auto frame = static_cast<std::int32_t>(L > N ? 0.0 : L);

  runtime::WorkArray levels;
  runtime::WorkArray flags;
  runtime::WorkArray powers;
  runtime::WorkArray scratch;
  if (!levels.resize(numFrames) || !flags.resize(numFrames) || !powers.resize(numFrames) ||
      !scratch) {
    return t;
  }
  double active_sum = 0.0;
  double inactive_sum = 0.0;
  for (std::int32_t i = 0; i < numFrames; ++i) {
    // Samples s .. e of both signals, L of them.
    const double s = ((i + 1.0) - 1.0) * L + 1.0;
    const double e = L + s - 1.0;
    const auto first = static_cast<std::int64_t>(s) - 1;  // 0-based
    const auto last = static_cast<std::int64_t>(e) - 1;
    if (!scratch.resize(frame)) {
      return t;
    }
    double* sq = scratch.data();
    for (std::int64_t k = first; k <= last; ++k) {
      const double v = gate->data[k];
      sq[k - first] = v * v;
    }
    const double mean = runtime::record_sum(scratch.get()) / static_cast<double>(frame);
    const double r = std::sqrt(mean);
    double level = 20.0 * std::log10((r + 1e-6) / 32767.0);
    if (level < -120.0 || std::isnan(level)) {
      level = -120.0;
    }
    levels.data()[i] = level;
    for (std::int64_t k = first; k <= last; ++k) {
      const double v = measured->data[k];
      sq[k - first] = v * v;
    }
    powers.data()[i] = runtime::record_sum(scratch.get()) / L;
    if (i >= 1) {
      const double own = levels.data()[i] * 0.9;
      const double carried = levels.data()[i - 1] * 0.09999999999999998;
      levels.data()[i] = own + carried;
    }
    if (levels.data()[i] > -70.0) {
      flags.data()[i] = 1.0;
      active_sum += powers.data()[i];
    } else {
      inactive_sum += powers.data()[i];
    }
  }
  t.levels.assign(levels.data(), levels.data() + numFrames);
  t.flags.assign(flags.data(), flags.data() + numFrames);
  t.powers.assign(powers.data(), powers.data() + numFrames);
  t.active_power_sum = active_sum;
  t.inactive_power_sum = inactive_sum;
  const double A = runtime::record_sum(flags.get());
  t.active_frames = A;
  const double Pn = inactive_sum / (F - A);
  t.noise_power = Pn;
  const double excess = active_sum - A * Pn;
  const double ratio = (excess / A) / Pn;
  t.snr_db = 10.0 * std::log10(1e-12 + ratio);
  return t;
}

}  // namespace reference
