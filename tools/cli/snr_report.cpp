#include "cli/snr_report.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <new>
#include <span>

#include "audiomeasure_version.h"
#include "cli/json.h"
#include "cli/record.h"
#include "cli/report.h"
#include "synth.h"

namespace cli {
namespace {

// The lag in milliseconds.
double lag_ms(const SnrReport& r) {
  return static_cast<double>(r.lag.samples) * 1000.0 / static_cast<double>(r.gate.rate);
}

}  // namespace

void check_snr_inputs(const AudioInfo& gate, const AudioInfo& measured, bool align) {
  if (gate.rate != measured.rate) {
    throw InputError(gate.path + " is at " + std::to_string(gate.rate) + " Hz but " +
                     measured.path + " at " + std::to_string(measured.rate) +
                     " Hz; both must have one rate (--resample converts MEASURED to GATE's)");
  }
  const double L = quenbar::frame_length(gate.rate);
  if (!quenbar::usable_frame_length(L)) {
    throw InputError(gate.path + ": sample rate " + std::to_string(gate.rate) +
                     " Hz; a 5 ms frame needs at least " +
                     std::to_string(static_cast<int>(quenbar::kMinRate)) + " Hz");
  }
  const double F = quenbar::frame_count(static_cast<double>(gate.frames), L);
  const auto len = static_cast<std::int64_t>(L);
  if (F < 1.0) {
    throw InputError(gate.path + ": " + std::to_string(gate.frames) +
                     " samples, fewer than one 5 ms frame (" + std::to_string(len) + " at " +
                     std::to_string(gate.rate) + " Hz)");
  }
  const std::int64_t need = quenbar::frames_span(F, L);
  // A gate of unknown length is checked again once it has been read.
  if (!align && gate.frames != kUnknownFrames && measured.frames < need) {
    throw InputError(measured.path + ": " + std::to_string(measured.frames) +
                     " samples; the gate's " + std::to_string(static_cast<std::int64_t>(F)) +
                     " whole frames need " + std::to_string(need));
  }
}

SnrReport measure_snr(const Audio& gate, const Audio& measured, bool align) {
  check_snr_inputs(gate.info, measured.info, align);
  SnrReport r;
  r.gate = gate.info;
  r.measured = measured.info;
  r.lag = estimate_lag(gate.samples, measured.samples, gate.info.rate);
  // The pairs (gate[i], measured[i + d]) for i >= max(0, -d): both files cut
  // at their start, the gate also at the end of the shifted signal.
  auto n_gate = static_cast<std::int64_t>(gate.samples.size());
  const auto n_measured = static_cast<std::int64_t>(measured.samples.size());
  if (align) {
    r.aligned = true;
    r.gate_first = std::max<std::int64_t>(0, -r.lag.samples);
    r.measured_first = std::max<std::int64_t>(0, r.lag.samples);
    n_gate = std::min(n_gate - r.gate_first, n_measured - r.measured_first);
  }
  r.gate_samples = n_gate;
  const double L = quenbar::frame_length(gate.info.rate);
  const double F = quenbar::frame_count(static_cast<double>(n_gate), L);
  if (F < 1.0) {
    throw InputError(gate.info.path + ": shifted by the lag of " + std::to_string(r.lag.samples) +
                     " samples (--align), the files share fewer samples than one 5 ms frame (" +
                     std::to_string(static_cast<std::int64_t>(L)) + ")");
  }
  const std::int64_t used = quenbar::frames_span(F, L);
  const std::span<const double> g(gate.samples.data() + r.gate_first,
                                  static_cast<std::size_t>(used));
  const std::span<const double> m(measured.samples.data() + r.measured_first,
                                  static_cast<std::size_t>(used));
  r.non_finite = first_non_finite("gate", gate.info, g, r.gate_first);
  at_file_rate(r.non_finite, gate);
  if (!r.non_finite) {
    r.non_finite = first_non_finite("measured", measured.info, m, r.measured_first);
    at_file_rate(r.non_finite, measured);
  }
  const Record gr = wrap(gate.samples.data() + r.gate_first, n_gate);
  const Record mr = wrap(measured.samples.data() + r.measured_first, n_measured - r.measured_first);
  if (!gr || !mr) {
    throw std::bad_alloc();
  }
  r.estimate =
      quenbar::estimate_with_diagnostics(gr.get(), mr.get(), static_cast<double>(gate.info.rate));
  return r;
}

const char* snr_verdict(const SnrReport& r) {
  if (r.non_finite) {
    return "non_finite_samples";
  }
  return r.estimate.diagnostics.reason == quenbar::Reason::kFinite ? "finite" : "not_finite";
}

std::string lag_warning(const SnrReport& r) {
  if (r.lag.samples == 0 || r.aligned) {
    return "";
  }
  char b[300];
  std::snprintf(b, sizeof(b),
                "warning: %s lags %s by %lld samples (%.3f ms): their frames are not aligned, "
                "which lowers the SNR; --align shifts it by the lag",
                r.measured.path.c_str(), r.gate.path.c_str(), static_cast<long long>(r.lag.samples),
                lag_ms(r));
  return b;
}

void print_snr_table(std::FILE* out, const SnrReport& r) {
  const quenbar::Diagnostics& d = r.estimate.diagnostics;
  std::fprintf(out, "gate      %s\n", describe_file(r.gate).c_str());
  std::fprintf(out, "measured  %s\n\n", describe_file(r.measured).c_str());
  std::fprintf(out, "SNR             %s dB\n", number_text(r.estimate.snr_db).c_str());
  const auto len = static_cast<std::int64_t>(d.frame_length);
  const auto frames = static_cast<std::int64_t>(d.frame_count);
  std::fprintf(out,
               "frames          %lld of %lld samples (5 ms at %d Hz); %lld gate samples after the "
               "last whole frame ignored\n",
               static_cast<long long>(frames), static_cast<long long>(len), r.gate.rate,
               static_cast<long long>(r.gate_samples - frames * len));
  std::fprintf(out,
               "active frames   %s of %lld (activity factor %s): smoothed gate level above "
               "-70 dB\n",
               number_text(d.active_frames, "%.0f").c_str(), static_cast<long long>(frames),
               number_text(d.activity_factor, "%.4f").c_str());
  std::fprintf(out,
               "noise power     %s dB re 32767^2: the measured signal's mean power in the "
               "inactive frames\n",
               number_text(d.noise_power_db).c_str());
  std::fprintf(out,
               "signal power    %s dB re 32767^2: its mean power in the active frames, less the "
               "noise power\n",
               number_text(d.signal_power_db).c_str());
  std::fprintf(out, "lag             %lld samples (%.3f ms) of measured behind gate",
               static_cast<long long>(r.lag.samples), lag_ms(r));
  if (r.aligned) {
    std::fprintf(out,
                 "; aligned by it (--align): gate from sample %lld, measured from sample %lld\n\n",
                 static_cast<long long>(r.gate_first), static_cast<long long>(r.measured_first));
  } else if (r.lag.samples != 0) {
    std::fprintf(out, "; NOT corrected (--align shifts it)\n\n");
  } else {
    std::fprintf(out, "\n\n");
  }
  if (r.non_finite) {
    std::fprintf(out, "result          NOT USABLE: %s\n", non_finite_text(*r.non_finite).c_str());
  } else if (d.reason == quenbar::Reason::kFinite) {
    std::fprintf(out, "result          finite\n");
  } else {
    std::fprintf(out, "result          %s: %s\n", number_text(r.estimate.snr_db).c_str(),
                 quenbar::reason_text(d.reason).text);
  }
}

std::string snr_json(const SnrReport& r) {
  const quenbar::Diagnostics& d = r.estimate.diagnostics;
  Json j;
  j.begin_object();
  j.key("schema").value("quenbar-snr/1");
  file_json(j, "gate", r.gate);
  file_json(j, "measured", r.measured);
  j.key("rate_hz").value(r.gate.rate);
  j.key("snr_db").value(r.estimate.snr_db);
  j.key("reason").value(quenbar::reason_text(d.reason).name);
  j.key("diagnostics").begin_object();
  j.key("frame_length").value(d.frame_length);
  j.key("frame_count").value(d.frame_count);
  j.key("active_frames").value(d.active_frames);
  j.key("activity_factor").value(d.activity_factor);
  j.key("active_power_sum").value(d.active_power_sum);
  j.key("inactive_power_sum").value(d.inactive_power_sum);
  j.key("noise_power").value(d.noise_power);
  j.key("signal_power").value(d.signal_power);
  j.key("noise_power_db").value(d.noise_power_db);
  j.key("signal_power_db").value(d.signal_power_db);
  j.end_object();
  j.key("verdict").value(snr_verdict(r));
  non_finite_json(j, "non_finite_sample", r.non_finite);
  j.key("lag").begin_object();
  j.key("samples").value(r.lag.samples);
  j.key("ms").value(lag_ms(r));
  j.key("window_samples").value(r.lag.window);
  j.key("max_lag_samples").value(r.lag.max_lag);
  j.key("aligned").value(r.aligned);
  j.key("gate_first_sample").value(r.gate_first);
  j.key("measured_first_sample").value(r.measured_first);
  j.end_object();
  j.key("version").value(AUDIOMEASURE_VERSION);
  j.end_object();
  return j.str();
}

std::vector<std::string> write_snr_demo(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    throw OutputError(dir + ": cannot make the folder: " + ec.message());
  }
  constexpr int kRate = 48000;
  constexpr double kSeconds = 20.0;
  constexpr double kSnrDb = 20.0;
  const synth::SnrScene scene = synth::speech_in_noise(kRate, kSeconds, kSnrDb, 1);
  const std::string gate_path = (std::filesystem::path(dir) / "gate.wav").string();
  const std::string measured_path = (std::filesystem::path(dir) / "measured.wav").string();
  write_wav16(gate_path, scene.gate, kRate);
  write_wav16(measured_path, scene.measured, kRate);
  return {
      gate_path + ": speech-like bursts with silent pauses, 20 s",
      measured_path + ": the same bursts in white noise, 16-bit PCM at 48000 Hz",
      "true SNR 20 dB: the bursts' mean power over the noise power",
  };
}

}  // namespace cli
