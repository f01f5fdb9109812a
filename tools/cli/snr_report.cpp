#include "cli/snr_report.h"

#include <cmath>
#include <filesystem>
#include <memory>

#include "audiomeasure_version.h"
#include "cli/json.h"
#include "cli/record.h"
#include "cli/report.h"
#include "synth.h"

namespace cli {
namespace {

// Samples per 5 ms frame, formed as the library forms it.
double frame_length(int rate) {
  return std::floor(0.005 * static_cast<double>(rate));
}

}  // namespace

const char* reason_name(quenbar::Reason reason) {
  switch (reason) {
    case quenbar::Reason::kFinite:
      return "finite";
    case quenbar::Reason::kBadInput:
      return "bad_input";
    case quenbar::Reason::kBadRate:
      return "bad_rate";
    case quenbar::Reason::kNoFrames:
      return "no_frames";
    case quenbar::Reason::kNoInactiveFrame:
      return "no_inactive_frame";
    case quenbar::Reason::kNoActiveFrame:
      return "no_active_frame";
    case quenbar::Reason::kNonFiniteSamples:
      return "non_finite_samples";
    case quenbar::Reason::kSignalBelowNoise:
      return "signal_below_noise";
    case quenbar::Reason::kZeroNoise:
      return "zero_noise";
  }
  return "unknown";
}

const char* reason_text(quenbar::Reason reason) {
  switch (reason) {
    case quenbar::Reason::kFinite:
      return "a finite estimate";
    case quenbar::Reason::kBadInput:
      return "the signals cannot be read as records of samples";
    case quenbar::Reason::kBadRate:
      return "the rate gives 5 ms frames shorter than one sample";
    case quenbar::Reason::kNoFrames:
      return "the gate is shorter than one 5 ms frame";
    case quenbar::Reason::kNoInactiveFrame:
      return "every frame of the gate is active (smoothed level above -70 dB): no frame to "
             "measure the noise in";
    case quenbar::Reason::kNoActiveFrame:
      return "no frame of the gate is active (smoothed level above -70 dB): no frame to measure "
             "the signal in";
    case quenbar::Reason::kNonFiniteSamples:
      return "a power sum is NaN or infinite: the measured signal holds NaN or infinite samples";
    case quenbar::Reason::kSignalBelowNoise:
      return "the mean power of the active frames is below the noise power: the signal power is "
             "negative";
    case quenbar::Reason::kZeroNoise:
      return "the noise power is 0 (the measured signal is silent in every inactive frame)";
  }
  return "unknown";
}

void check_snr_inputs(const Audio& gate, const Audio& measured) {
  if (gate.info.rate != measured.info.rate) {
    throw InputError(gate.info.path + " is at " + std::to_string(gate.info.rate) + " Hz but " +
                     measured.info.path + " at " + std::to_string(measured.info.rate) +
                     " Hz; both must have one rate");
  }
  const int rate = gate.info.rate;
  const double L = frame_length(rate);
  if (L < 1.0) {
    throw InputError(gate.info.path + ": sample rate " + std::to_string(rate) +
                     " Hz; a 5 ms frame needs at least 200 Hz");
  }
  const auto len = static_cast<std::int64_t>(L);
  const std::int64_t frames = gate.info.frames / len;
  if (frames < 1) {
    throw InputError(gate.info.path + ": " + std::to_string(gate.info.frames) +
                     " samples, fewer than one 5 ms frame (" + std::to_string(len) + " at " +
                     std::to_string(rate) + " Hz)");
  }
  if (measured.info.frames < frames * len) {
    throw InputError(measured.info.path + ": " + std::to_string(measured.info.frames) +
                     " samples; the gate's " + std::to_string(frames) + " whole frames need " +
                     std::to_string(frames * len));
  }
}

SnrReport measure_snr(const Audio& gate, const Audio& measured) {
  check_snr_inputs(gate, measured);
  SnrReport r;
  r.gate = gate.info;
  r.measured = measured.info;
  const Record g = wrap(gate.samples);
  const Record m = wrap(measured.samples);
  if (!g || !m) {
    throw std::bad_alloc();
  }
  r.estimate =
      quenbar::estimate_with_diagnostics(g.get(), m.get(), static_cast<double>(gate.info.rate));
  return r;
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
               static_cast<long long>(r.gate.frames - frames * len));
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
               "noise power\n\n",
               number_text(d.signal_power_db).c_str());
  if (d.reason == quenbar::Reason::kFinite) {
    std::fprintf(out, "result          finite\n");
  } else {
    std::fprintf(out, "result          %s: %s\n", number_text(r.estimate.snr_db).c_str(),
                 reason_text(d.reason));
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
  j.key("reason").value(reason_name(d.reason));
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
