// SNR measurements: quenbar's estimate with its diagnostics, the lag of the
// measured signal behind the gate (and, when asked, the pairs shifted by
// it), the first non-finite sample the estimate reads, and the verdict.
#pragma once

#include <cstdint>

#include "audiomeasure.h"
#include "audiomeasure/lag.h"
#include "audiomeasure/non_finite.h"
#include "quenbar/stream.h"
#include "runtime/buffer.h"

namespace am {

// Checks an options struct (NULL: the defaults) and copies what it holds.
int read_snr_options(const am_snr_options* options, am_snr_options& out) noexcept;

// am_snr_measure's work, its arguments checked but for the lengths and the
// rate.
int measure_snr(const double* gate, std::int64_t gate_length, const double* measured,
                std::int64_t measured_length, double fs, const am_snr_options& options,
                am_snr_report& report) noexcept;

// Samples of one signal waiting for their partners, in order.
class Pending {
 public:
  std::int64_t size() const noexcept { return static_cast<std::int64_t>(tail_ - head_); }
  const double* front() const noexcept { return data_.data() + head_; }
  bool push(const double* x, std::int64_t n) noexcept;
  void pop(std::int64_t n) noexcept;

 private:
  runtime::Buffer<double> data_;
  std::size_t head_ = 0;
  std::size_t tail_ = 0;
};

// The streaming form (am_snr_measurement).
class SnrMeasurement {
 public:
  // false when the openings' memory cannot be had.
  bool init(const am_snr_options& options, double fs) noexcept;
  int feed(int signal, const double* x, std::int64_t n) noexcept;  // 0 gate, 1 measured
  int finish(am_snr_report& report) noexcept;

 private:
  // Pairs what both signals hold, into the estimate.
  void pair(const double* x, std::int64_t n, int signal) noexcept;
  int commit_lag() noexcept;

  am_snr_options options_{};
  double fs_ = 0.0;
  std::int64_t opening_ = 0;             // samples of each opening kept for the lag
  runtime::Buffer<double> openings_[2];  // gate, measured
  std::int64_t fed_[2] = {0, 0};
  bool lag_known_ = false;
  Lag lag_;
  std::int64_t first_[2] = {0, 0};  // the first sample of each signal measured
  std::int64_t skip_[2] = {0, 0};   // samples still to drop before pairing
  Pending pending_[2];
  std::int64_t paired_ = 0;
  NonFinite bad_[2];
  quenbar::Stream stream_{48000.0};
  bool failed_ = false;  // out of memory while holding samples: every call refuses
  bool finished_ = false;
  am_snr_report report_{};
};

}  // namespace am
