#include "quenbar-snr/snr_measure.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <span>

#include "common/command_line.h"

namespace cli {
namespace {

// The frames of the estimate (quenbar.h): L = floor(0.005 fs) samples, the
// product rounded, then floored; a gate of n samples holds F = floor(n / L)
// whole frames, which cover F L samples of both signals. The checks below
// state them in a file's terms; the library applies them.
double frame_length(int rate) {
  return std::floor(0.005 * static_cast<double>(rate));
}
constexpr int kMinRate = 200;  // the lowest rate whose frame holds a sample

// The largest lag the measurement looks for at any rate: AM_SNR_LAG_MAX_S,
// and at most half of its window, which holds at most 524288 samples.
constexpr std::int64_t kLargestLag = 524288 / 2;

}  // namespace

void check_snr_inputs(const AudioInfo& gate, const AudioInfo& measured, bool align) {
  if (gate.rate != measured.rate) {
    throw InputError(gate.path + " is at " + std::to_string(gate.rate) + " Hz but " +
                     measured.path + " at " + std::to_string(measured.rate) +
                     " Hz; both must have one rate (--resample converts MEASURED to GATE's)");
  }
  const double L = frame_length(gate.rate);
  if (L < 1.0) {
    throw InputError(gate.path + ": sample rate " + std::to_string(gate.rate) +
                     " Hz; a 5 ms frame needs at least " + std::to_string(kMinRate) + " Hz");
  }
  const double F = std::floor(static_cast<double>(gate.frames) / L);
  const auto len = static_cast<std::int64_t>(L);
  if (F < 1.0) {
    throw InputError(gate.path + ": " + std::to_string(gate.frames) +
                     " samples, fewer than one 5 ms frame (" + std::to_string(len) + " at " +
                     std::to_string(gate.rate) + " Hz)");
  }
  const auto need = static_cast<std::int64_t>(F * L);
  // A gate of unknown length is checked again once it has been read.
  if (!align && gate.frames != kUnknownFrames && measured.frames < need) {
    throw InputError(measured.path + ": " + std::to_string(measured.frames) +
                     " samples; the gate's " + std::to_string(static_cast<std::int64_t>(F)) +
                     " whole frames need " + std::to_string(need));
  }
}

SnrGate prepare_gate(SampleSource& file, bool align) {
  SnrGate g;
  if (file.info().path == "-") {
    g.samples = file.read_all();
    g.info = g.samples->info;
  } else {
    // Read to its end for the checks of reading; the samples are let go.
    while (!file.next().empty()) {
    }
    g.info = file.info();
  }
  check_snr_inputs(g.info, g.info, align);
  return g;
}

SnrModel measure_snr(SampleSource& gate, SampleSource& measured, bool align) {
  const std::string gate_path = gate.info().path;
  const int rate = gate.info().rate;
  am_snr_options options;
  am_snr_options_init(&options);
  options.align = align ? 1 : 0;
  struct Release {
    void operator()(am_snr_measurement* m) const { am_snr_destroy(m); }
  };
  am_snr_measurement* created = nullptr;
  check_status(am_snr_create(&options, rate, &created), gate_path);
  const std::unique_ptr<am_snr_measurement, Release> measurement(created);

  // Both files are read to their ends, side by side. The measurement holds
  // what one signal is fed ahead of the other, so once a file has ended the
  // other is fed only as far as it can be paired with it: shifted by the
  // largest lag, with a frame to spare, so that an unaligned gate fed no
  // further is one the checks refuse.
  SampleSource* const source[2] = {&gate, &measured};
  const std::int64_t spare = kLargestLag + static_cast<std::int64_t>(frame_length(rate));
  std::int64_t read[2] = {0, 0};
  std::int64_t fed[2] = {0, 0};
  const auto feed = [&](int s, std::span<const double> chunk) {
    read[s] += static_cast<std::int64_t>(chunk.size());
    std::int64_t n = static_cast<std::int64_t>(chunk.size());
    if (source[1 - s]->ended()) {
      n = std::clamp<std::int64_t>(read[1 - s] + spare - fed[s], 0, n);
    }
    const int status = s == 0 ? am_snr_feed_gate(created, chunk.data(), n)
                              : am_snr_feed_measured(created, chunk.data(), n);
    check_status(status, source[s]->info().path);
    fed[s] += n;
  };
  // An error reading the measured file waits until the gate is read, whose
  // own error comes first.
  std::exception_ptr measured_error;
  while (!gate.ended() || (!measured_error && !measured.ended())) {
    if (!gate.ended()) {
      feed(0, gate.next());
    }
    if (!measured_error && !measured.ended()) {
      std::span<const double> chunk;
      try {
        chunk = measured.next();
      } catch (const InputError&) {
        measured_error = std::current_exception();
        continue;
      }
      feed(1, chunk);
    }
  }
  if (measured_error) {
    std::rethrow_exception(measured_error);
  }

  SnrModel m;
  m.gate = gate.info();
  m.measured = measured.info();
  // Files whose headers gave no length meet their checks now.
  check_snr_inputs(m.gate, m.measured, align);
  am_snr_report_init(&m.report);
  const int status = am_snr_finish(created, &m.report);
  if (status == AM_ERR_NO_SHARED_FRAME) {
    throw InputError(gate_path + ": " + am_status_text(status) + " (" +
                     std::to_string(static_cast<std::int64_t>(frame_length(rate))) + " at " +
                     std::to_string(rate) + " Hz; --align)");
  }
  if (status == AM_ERR_UNRELIABLE_LAG) {
    throw InputError(measured.info().path + ": " + am_status_text(status) +
                     " (--align; without it the report gives the lag and its prominence)");
  }
  check_status(status, gate_path);
  const bool in_gate = m.report.non_finite_signal == AM_SIGNAL_GATE;
  m.non_finite = non_finite_sample(m.report.non_finite_signal, m.report.non_finite_position,
                                   m.report.non_finite_value, in_gate ? m.gate : m.measured,
                                   in_gate ? gate.file_non_finite() : measured.file_non_finite());
  return m;
}

Judgement judge_snr(const am_snr_report& report, const am_snr_limits& limits,
                    const std::string& file) {
  am_judgement judged;
  am_judgement_init(&judged);
  check_status(am_snr_judge(&report, &limits, &judged), file);
  return judgement(file, judged,
                   {{AM_CHECK_SNR, 0, report.snr_db, limits.snr_min_db, limits.snr_max_db}});
}

int exit_status(const SnrModel& m) {
  if (m.report.verdict != AM_VERDICT_FINITE) {
    return kExitNotTrusted;
  }
  return m.limits && m.limits->outcome == AM_LIMITS_FAIL ? kExitReject : kExitTrusted;
}

}  // namespace cli
