// A device's limits judged on a report (am_gain_judge, am_snr_judge): each
// figure against its bounds, inclusive, NaN bounds absent, a NaN figure
// failing any bound it has.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

#include "audiomeasure.h"
#include "runtime/fp_guard.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class Struct>
void init_sized(const Struct& full, Struct* caller, std::uint32_t size) noexcept {
  if (caller == nullptr) {
    return;
  }
  auto* bytes = reinterpret_cast<unsigned char*>(caller);
  std::memcpy(bytes, &full, std::min<std::size_t>(size, sizeof full));
  if (size > sizeof full) {
    std::memset(bytes + sizeof full, 0, size - sizeof full);
  }
  if (size >= sizeof(std::uint32_t)) {
    caller->struct_size = size;
  }
}

// A struct as the library knows it: the caller's bytes as far as they reach
// (at least `first` of them, else false), the library's defaults past them.
template <class Struct>
bool read_sized(const Struct* caller, std::uint32_t first, void (*init)(Struct*, std::uint32_t),
                Struct& out) noexcept {
  init(&out, sizeof out);
  if (caller->struct_size < first) {
    return false;
  }
  std::memcpy(&out, caller, std::min<std::size_t>(caller->struct_size, sizeof out));
  return true;
}

// Whether v lies within [lo, hi] (NaN: no bound); a NaN v lies within no
// bound.
bool inside(double v, double lo, double hi) noexcept {
  if (std::isnan(lo) && std::isnan(hi)) {
    return true;
  }
  return !std::isnan(v) && (std::isnan(lo) || v >= lo) && (std::isnan(hi) || v <= hi);
}

bool ordered(double lo, double hi) noexcept {
  return std::isnan(lo) || std::isnan(hi) || lo <= hi;
}

void fail(am_judgement& j, int check, int bit) noexcept {
  j.failed_checks |= 1u << check;
  j.failed_steps[check] |= 1u << bit;
}

constexpr std::uint32_t kGainReportFirstSize = offsetof(am_gain_report, noise_distortion_db);
constexpr std::uint32_t kSnrReportFirstSize = offsetof(am_snr_report, lag_prominence);

}  // namespace

extern "C" {

void am_gain_limits_init_size(am_gain_limits* limits, uint32_t size) noexcept {
  am_gain_limits full{};
  for (double* bounds : {full.gain_min_db, full.gain_max_db, full.spread_max_db,
                         full.noise_distortion_max_db, full.clipped_max}) {
    std::fill_n(bounds, AM_STEPS, kNaN);
  }
  full.delay_max_samples = full.drift_max_ppm = kNaN;
  init_sized(full, limits, size);
}

void am_snr_limits_init_size(am_snr_limits* limits, uint32_t size) noexcept {
  am_snr_limits full{};
  full.snr_min_db = full.snr_max_db = kNaN;
  init_sized(full, limits, size);
}

void am_judgement_init_size(am_judgement* judgement, uint32_t size) noexcept {
  init_sized(am_judgement{}, judgement, size);
}

int am_gain_judge(const am_gain_report* report, const am_gain_limits* limits,
                  am_judgement* judgement) noexcept {
  const runtime::FpGuard guard;
  if (report == nullptr || limits == nullptr || judgement == nullptr) {
    return AM_ERR_NULL;
  }
  am_gain_report r;
  am_gain_limits l;
  if (!read_sized(report, kGainReportFirstSize, am_gain_report_init_size, r) ||
      !read_sized(limits, sizeof(am_gain_limits), am_gain_limits_init_size, l) ||
      judgement->struct_size < sizeof(am_judgement)) {
    return AM_ERR_STRUCT_SIZE;
  }
  for (int k = 0; k < AM_STEPS; ++k) {
    if (!ordered(l.gain_min_db[k], l.gain_max_db[k])) {
      return AM_ERR_OPTION;
    }
  }
  am_judgement j{};
  j.struct_size = sizeof j;
  for (int k = 0; k < AM_STEPS; ++k) {
    if (r.step_samples[k] == 0 || r.coverage[k] != r.coverage[k]) {
      continue;  // no settled half: not judged
    }
    if (!inside(r.gain[k], l.gain_min_db[k], l.gain_max_db[k])) {
      fail(j, AM_CHECK_GAIN, k);
    }
    if (!inside(r.step_range[k], kNaN, l.spread_max_db[k])) {
      fail(j, AM_CHECK_SPREAD, k);
    }
    if (!inside(r.noise_distortion_db[k], kNaN, l.noise_distortion_max_db[k])) {
      fail(j, AM_CHECK_NOISE_DISTORTION, k);
    }
    if (!inside(static_cast<double>(r.clipped_samples[k]), kNaN, l.clipped_max[k])) {
      fail(j, AM_CHECK_CLIPPED, k);
    }
  }
  if (!inside(std::fabs(r.total_delay), kNaN, l.delay_max_samples)) {
    fail(j, AM_CHECK_DELAY, 0);
  }
  if (!inside(std::fabs(r.drift_ppm), kNaN, l.drift_max_ppm)) {
    fail(j, AM_CHECK_DRIFT, 0);
  }
  j.outcome = j.failed_checks != 0 ? AM_LIMITS_FAIL : AM_LIMITS_PASS;
  const std::uint32_t size = judgement->struct_size;
  std::memcpy(static_cast<void*>(judgement), &j, sizeof j);
  judgement->struct_size = size;
  return AM_OK;
}

int am_snr_judge(const am_snr_report* report, const am_snr_limits* limits,
                 am_judgement* judgement) noexcept {
  const runtime::FpGuard guard;
  if (report == nullptr || limits == nullptr || judgement == nullptr) {
    return AM_ERR_NULL;
  }
  am_snr_report r;
  am_snr_limits l;
  if (!read_sized(report, kSnrReportFirstSize, am_snr_report_init_size, r) ||
      !read_sized(limits, sizeof(am_snr_limits), am_snr_limits_init_size, l) ||
      judgement->struct_size < sizeof(am_judgement)) {
    return AM_ERR_STRUCT_SIZE;
  }
  if (!ordered(l.snr_min_db, l.snr_max_db)) {
    return AM_ERR_OPTION;
  }
  am_judgement j{};
  j.struct_size = sizeof j;
  if (!inside(r.snr_db, l.snr_min_db, l.snr_max_db)) {
    fail(j, AM_CHECK_SNR, 0);
  }
  j.outcome = j.failed_checks != 0 ? AM_LIMITS_FAIL : AM_LIMITS_PASS;
  const std::uint32_t size = judgement->struct_size;
  std::memcpy(static_cast<void*>(judgement), &j, sizeof j);
  judgement->struct_size = size;
  return AM_OK;
}

}  // extern "C"
