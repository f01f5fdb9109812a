// The exported C functions: each checks its arguments, holds the
// floating-point guard while it computes, and hands the work to the
// internal C++ (gain.cpp, snr.cpp). Reports are filled in full on the
// library's side and copied to the caller as far as the caller's
// struct_size reaches, so a caller built against an older, shorter struct
// never sees a byte written past it.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "audiomeasure.h"
#include "audiomeasure/gain.h"
#include "audiomeasure/names.h"
#include "audiomeasure/snr.h"
#include "audiomeasure_version.h"
#include "quenbar/snr.h"
#include "runtime/alloc.h"
#include "runtime/fp_guard.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The first version's sizes: a struct_size below them was not set by an
// _init function.
constexpr std::uint32_t kGainReportFirstSize = offsetof(am_gain_report, noise_distortion_db);
constexpr std::uint32_t kSnrReportFirstSize = offsetof(am_snr_report, lag_prominence);
static_assert(kGainReportFirstSize == 920 && kSnrReportFirstSize == 200);

// An object of the library on its heap, through the allocation seam;
// nullptr when the memory cannot be had.
template <class T, class... Args>
T* make(Args&&... args) noexcept {
  void* block = runtime::allocate(sizeof(T));
  return block != nullptr ? new (block) T(std::forward<Args>(args)...) : nullptr;
}

template <class T>
void unmake(T* object) noexcept {
  if (object != nullptr) {
    object->~T();
    runtime::release(object);
  }
}

bool length_ok(std::int64_t n) noexcept {
  return n >= 0 && n <= AM_MAX_SAMPLES;
}

bool rate_ok(double fs) noexcept {
  return quenbar::usable_frame_length(quenbar::frame_length(fs));
}

// The defaults in `full`, written to the caller's struct of `size` bytes:
// the fields the library knows within that size, zeros past them, and
// struct_size = size.
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

// Copies a report filled by the library to the caller's, as far as the
// caller's struct_size reaches (its struct_size kept).
template <class Report>
void deliver(const Report& full, Report* caller) noexcept {
  const std::uint32_t size = caller->struct_size;
  std::memcpy(static_cast<void*>(caller), &full, std::min<std::size_t>(size, sizeof full));
  caller->struct_size = size;
}

}  // namespace

struct am_gain_reference {
  am::GainReference body;
};

struct am_gain_measurement {
  am_gain_measurement(am_gain_reference* r, bool correct_drift) noexcept
      : reference(r), body(r->body, correct_drift) {}
  am_gain_reference* reference;  // held until the measurement is destroyed
  am::GainMeasurement body;
};

struct am_snr_measurement {
  am::SnrMeasurement body;
};

namespace {

void let_go(am_gain_reference* reference) noexcept {
  if (reference != nullptr && reference->body.let_go()) {
    unmake(reference);
  }
}

}  // namespace

extern "C" {

const char* am_enum_name(int kind, int value) noexcept {
  return am::enum_name(kind, value);
}

const char* am_enum_text(int kind, int value) noexcept {
  return am::enum_text(kind, value);
}

const char* am_status_text(int status) noexcept {
  return am::enum_text(AM_ENUM_STATUS, status);
}

const char* am_verdict_name(int verdict) noexcept {
  return am::enum_name(AM_ENUM_VERDICT, verdict);
}

const char* am_version(void) noexcept {
  return AUDIOMEASURE_VERSION;
}

void am_gain_options_init_size(am_gain_options* options, uint32_t size) noexcept {
  am_gain_options full{};
  full.step_period = AM_PERIOD_AUTO;
  full.max_noise_distortion_db = -16.0;
  full.max_spread_excess_db = 1.0;
  full.max_clipped_samples = 0;
  full.drift_correct = 0;
  init_sized(full, options, size);
}

void am_gain_report_init_size(am_gain_report* report, uint32_t size) noexcept {
  am_gain_report full{};
  std::fill_n(full.step_level, AM_STEPS, kNaN);
  std::fill_n(full.step_range, AM_STEPS, kNaN);
  std::fill_n(full.reference_step_level, AM_STEPS, kNaN);
  std::fill_n(full.reference_step_range, AM_STEPS, kNaN);
  std::fill_n(full.gain, AM_STEPS, kNaN);
  std::fill_n(full.coverage, AM_STEPS, kNaN);
  full.peak_level = full.failed = kNaN;
  full.step_period_s = full.step_mode = full.fitting_period_s = kNaN;
  full.median_step_spread_db[0] = full.median_step_spread_db[1] = kNaN;
  full.coarse_delay = full.coarse_delay_flag = full.peak_value = kNaN;
  full.trust_ratio = full.total_delay = full.total_delay_ms = kNaN;
  full.non_finite_position = -1;
  full.non_finite_value = kNaN;
  // A report nothing was written to never reads as a good one.
  full.verdict = AM_VERDICT_NOT_TRUSTED;
  std::fill_n(full.noise_distortion_db, AM_STEPS, kNaN);
  std::fill_n(full.dc_offset_db, AM_STEPS, kNaN);
  std::fill_n(full.spread_excess_db, AM_STEPS, kNaN);
  full.drift_ppm = kNaN;
  init_sized(full, report, size);
}

int64_t am_gain_reference_minimum(int step_period) noexcept {
  switch (step_period) {
    case AM_PERIOD_25_2:
      return lumetra::required_reference_length(lumetra::kLongStep);
    case AM_PERIOD_AUTO:
    case AM_PERIOD_24_7:
      return lumetra::required_reference_length(lumetra::kShortStep);
    default:
      return -1;
  }
}

int am_gain_measure(const double* reference, int64_t reference_length, const double* recording,
                    int64_t recording_length, const am_gain_options* options,
                    am_gain_report* report) noexcept {
  const runtime::FpGuard guard;
  if (report == nullptr) {
    return AM_ERR_NULL;
  }
  if (report->struct_size < kGainReportFirstSize) {
    return AM_ERR_STRUCT_SIZE;
  }
  am_gain_options o;
  if (const int status = am::read_gain_options(options, o); status != AM_OK) {
    return status;
  }
  if (!length_ok(reference_length) || !length_ok(recording_length)) {
    return AM_ERR_LENGTH;
  }
  if ((reference == nullptr && reference_length > 0) ||
      (recording == nullptr && recording_length > 0)) {
    return AM_ERR_NULL;
  }
  if (reference_length < am_gain_reference_minimum(o.step_period)) {
    return AM_ERR_SHORT_REFERENCE;
  }
  if (recording_length < AM_GAIN_SPAN) {
    return AM_ERR_SHORT_RECORDING;
  }
  am_gain_report full;
  am_gain_report_init(&full);
  const int status =
      am::measure_gain(reference, reference_length, recording, recording_length, o, full);
  if (status == AM_OK) {
    deliver(full, report);
  }
  return status;
}

int am_gain_reference_create(const am_gain_options* options, int64_t length,
                             am_gain_reference** out) noexcept {
  const runtime::FpGuard guard;
  if (out == nullptr) {
    return AM_ERR_NULL;
  }
  *out = nullptr;
  am_gain_options o;
  if (const int status = am::read_gain_options(options, o); status != AM_OK) {
    return status;
  }
  if (!length_ok(length)) {
    return AM_ERR_LENGTH;
  }
  if (length < am_gain_reference_minimum(o.step_period)) {
    return AM_ERR_SHORT_REFERENCE;
  }
  am_gain_reference* r = make<am_gain_reference>();
  if (r == nullptr) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  if (const int status = r->body.init(o, length); status != AM_OK) {
    unmake(r);
    return status;
  }
  *out = r;
  return AM_OK;
}

int am_gain_reference_feed(am_gain_reference* reference, const double* samples,
                           int64_t count) noexcept {
  const runtime::FpGuard guard;
  if (reference == nullptr) {
    return AM_ERR_NULL;
  }
  return reference->body.feed(samples, count);
}

int am_gain_reference_finish(am_gain_reference* reference) noexcept {
  const runtime::FpGuard guard;
  if (reference == nullptr) {
    return AM_ERR_NULL;
  }
  return reference->body.finish();
}

void am_gain_reference_destroy(am_gain_reference* reference) noexcept {
  let_go(reference);
}

int am_gain_reference_report(const am_gain_reference* reference, am_gain_report* report) noexcept {
  const runtime::FpGuard guard;
  if (reference == nullptr || report == nullptr) {
    return AM_ERR_NULL;
  }
  if (report->struct_size < kGainReportFirstSize) {
    return AM_ERR_STRUCT_SIZE;
  }
  if (!reference->body.finished()) {
    return AM_ERR_STATE;
  }
  am_gain_report full;
  am_gain_report_init(&full);
  am::write_reference_fields(reference->body.summary(), full);
  deliver(full, report);
  return AM_OK;
}

int am_gain_create(const am_gain_reference* reference, am_gain_measurement** out) noexcept {
  const runtime::FpGuard guard;
  if (out == nullptr) {
    return AM_ERR_NULL;
  }
  *out = nullptr;
  if (reference == nullptr) {
    return AM_ERR_NULL;
  }
  if (!reference->body.finished()) {
    return AM_ERR_STATE;
  }
  // The measurement holds its reference until it is destroyed: a host may
  // let go of the reference first.
  auto* held = const_cast<am_gain_reference*>(reference);
  am_gain_measurement* m = make<am_gain_measurement>(held, held->body.options().drift_correct != 0);
  if (m == nullptr) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  if (!m->body.init()) {
    unmake(m);
    return AM_ERR_OUT_OF_MEMORY;
  }
  held->body.hold();
  *out = m;
  return AM_OK;
}

int am_gain_feed_recording(am_gain_measurement* measurement, const double* samples,
                           int64_t count) noexcept {
  const runtime::FpGuard guard;
  if (measurement == nullptr) {
    return AM_ERR_NULL;
  }
  return measurement->body.feed(samples, count);
}

int am_gain_finish(am_gain_measurement* measurement, am_gain_report* report) noexcept {
  const runtime::FpGuard guard;
  if (measurement == nullptr || report == nullptr) {
    return AM_ERR_NULL;
  }
  if (report->struct_size < kGainReportFirstSize) {
    return AM_ERR_STRUCT_SIZE;
  }
  am_gain_report full;
  am_gain_report_init(&full);
  const int status = measurement->body.finish(full);
  if (status == AM_OK) {
    deliver(full, report);
  }
  return status;
}

void am_gain_destroy(am_gain_measurement* measurement) noexcept {
  if (measurement == nullptr) {
    return;
  }
  am_gain_reference* reference = measurement->reference;
  unmake(measurement);
  let_go(reference);
}

void am_snr_options_init_size(am_snr_options* options, uint32_t size) noexcept {
  am_snr_options full{};
  full.align = 0;
  init_sized(full, options, size);
}

void am_snr_report_init_size(am_snr_report* report, uint32_t size) noexcept {
  am_snr_report full{};
  full.snr_db = full.fs = kNaN;
  for (double* v :
       {&full.frame_length, &full.frame_count, &full.active_frames, &full.activity_factor,
        &full.active_power_sum, &full.inactive_power_sum, &full.noise_power, &full.signal_power,
        &full.noise_power_db, &full.signal_power_db, &full.non_finite_value}) {
    *v = kNaN;
  }
  full.non_finite_position = -1;
  full.lag_prominence = kNaN;
  full.verdict = AM_VERDICT_NOT_FINITE;
  init_sized(full, report, size);
}

int am_snr_measure(const double* gate, int64_t gate_length, const double* measured,
                   int64_t measured_length, double fs, const am_snr_options* options,
                   am_snr_report* report) noexcept {
  const runtime::FpGuard guard;
  if (report == nullptr) {
    return AM_ERR_NULL;
  }
  if (report->struct_size < kSnrReportFirstSize) {
    return AM_ERR_STRUCT_SIZE;
  }
  am_snr_options o;
  if (const int status = am::read_snr_options(options, o); status != AM_OK) {
    return status;
  }
  if (!length_ok(gate_length) || !length_ok(measured_length)) {
    return AM_ERR_LENGTH;
  }
  if ((gate == nullptr && gate_length > 0) || (measured == nullptr && measured_length > 0)) {
    return AM_ERR_NULL;
  }
  if (!rate_ok(fs)) {
    return AM_ERR_RATE;
  }
  am_snr_report full;
  am_snr_report_init(&full);
  const int status = am::measure_snr(gate, gate_length, measured, measured_length, fs, o, full);
  if (status == AM_OK) {
    deliver(full, report);
  }
  return status;
}

int am_snr_create(const am_snr_options* options, double fs, am_snr_measurement** out) noexcept {
  const runtime::FpGuard guard;
  if (out == nullptr) {
    return AM_ERR_NULL;
  }
  *out = nullptr;
  am_snr_options o;
  if (const int status = am::read_snr_options(options, o); status != AM_OK) {
    return status;
  }
  if (!rate_ok(fs)) {
    return AM_ERR_RATE;
  }
  am_snr_measurement* m = make<am_snr_measurement>();
  if (m == nullptr) {
    return AM_ERR_OUT_OF_MEMORY;
  }
  if (!m->body.init(o, fs)) {
    unmake(m);
    return AM_ERR_OUT_OF_MEMORY;
  }
  *out = m;
  return AM_OK;
}

int am_snr_feed_gate(am_snr_measurement* measurement, const double* samples,
                     int64_t count) noexcept {
  const runtime::FpGuard guard;
  if (measurement == nullptr) {
    return AM_ERR_NULL;
  }
  return measurement->body.feed(0, samples, count);
}

int am_snr_feed_measured(am_snr_measurement* measurement, const double* samples,
                         int64_t count) noexcept {
  const runtime::FpGuard guard;
  if (measurement == nullptr) {
    return AM_ERR_NULL;
  }
  return measurement->body.feed(1, samples, count);
}

int am_snr_finish(am_snr_measurement* measurement, am_snr_report* report) noexcept {
  const runtime::FpGuard guard;
  if (measurement == nullptr || report == nullptr) {
    return AM_ERR_NULL;
  }
  if (report->struct_size < kSnrReportFirstSize) {
    return AM_ERR_STRUCT_SIZE;
  }
  am_snr_report full;
  am_snr_report_init(&full);
  const int status = measurement->body.finish(full);
  if (status == AM_OK) {
    deliver(full, report);
  }
  return status;
}

void am_snr_destroy(am_snr_measurement* measurement) noexcept {
  unmake(measurement);
}

}  // extern "C"
