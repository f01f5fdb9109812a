#include "cli/gain.h"

#include <cmath>
#include <filesystem>
#include <memory>

#include "audiomeasure_version.h"
#include "cli/json.h"
#include "cli/plot.h"
#include "cli/record.h"
#include "cli/report.h"
#include "lumetra.h"
#include "stimulus.h"

namespace cli {
namespace {

using lumetra::kSteps;

constexpr int kRate = 48000;

std::string seconds(std::int64_t samples) {
  return duration_text(samples, kRate);
}

const char* copy_name(lumetra::Copy c) {
  switch (c) {
    case lumetra::Copy::kWhole:
      return "whole";
    case lumetra::Copy::kHead:
      return "head";
    case lumetra::Copy::kFailed:
      break;
  }
  return "none";
}

std::string copy_text(const GainReport& r) {
  const lumetra::Diagnostics& d = r.estimate.diagnostics;
  switch (d.copy) {
    case lumetra::Copy::kWhole:
      return "whole: all " + std::to_string(d.aligned_samples) + " samples from the recording";
    case lumetra::Copy::kHead:
      return "head: " + std::to_string(d.aligned_samples) + " of " +
             std::to_string(r.reference.frames) +
             " samples from the recording, which ends early; the rest is silence";
    case lumetra::Copy::kFailed:
      break;
  }
  return "none: the alignment failed, so the steps are measured on silence";
}

}  // namespace

void check_gain_inputs(const Audio& reference, const Audio& recording, double step_mode) {
  for (const Audio* a : {&reference, &recording}) {
    if (a->info.rate != kRate) {
      throw InputError(a->info.path + ": sample rate " + std::to_string(a->info.rate) +
                       " Hz; lumetra measures 48000 Hz only");
    }
  }
  const double period = lumetra::step_period(step_mode);
  const std::int64_t need = lumetra::required_reference_length(period);
  if (reference.info.frames < need) {
    char p[16];
    std::snprintf(p, sizeof(p), "%.1f", period);
    throw InputError(reference.info.path + ": " + std::to_string(reference.info.frames) +
                     " samples (" + seconds(reference.info.frames) + "); a reference with " + p +
                     " s steps needs at least " + std::to_string(need) + " (" + seconds(need) +
                     "): the 15 s opening and 10 whole steps");
  }
  if (recording.info.frames < lumetra::kSpan) {
    throw InputError(recording.info.path + ": " + std::to_string(recording.info.frames) +
                     " samples (" + seconds(recording.info.frames) +
                     "); a recording needs at least 720000 (15 s) to be aligned");
  }
}

GainReport measure_gain(const Audio& reference, const Audio& recording, double step_mode) {
  check_gain_inputs(reference, recording, step_mode);
  GainReport r;
  r.reference = reference.info;
  r.recording = recording.info;
  r.step_mode = step_mode;
  r.step_period = lumetra::step_period(step_mode);
  const auto n = static_cast<std::int64_t>(reference.samples.size());
  r.layout = lumetra::step_layout(r.step_period, n);

  const Record ref = wrap(reference.samples);
  const Record rec = wrap(recording.samples);
  if (!ref || !rec) {
    throw std::bad_alloc();
  }
  r.estimate = lumetra::estimate(ref.get(), rec.get(), step_mode);
  // The reference through the same steps, as a recording aligned to itself.
  r.own = lumetra::measure({reference.samples.data(), n, n}, r.layout);
  for (int k = 0; k < kSteps; ++k) {
    r.gain[k] = r.estimate.step_level[k] - r.own.step_level[k];
  }
  return r;
}

std::vector<std::string> cause_names(std::uint32_t causes) {
  static constexpr struct {
    lumetra::Cause bit;
    const char* name;
  } kNames[] = {
      {lumetra::kUnreadableInput, "unreadable_input"},
      {lumetra::kShortInput, "short_input"},
      {lumetra::kCoarseTooLarge, "coarse_delay_too_large"},
      {lumetra::kDelayOutOfRange, "delay_out_of_range"},
      {lumetra::kPeakNearEnd, "peak_near_end"},
      {lumetra::kPeakNotProminent, "peak_not_prominent"},
      {lumetra::kNotLagging, "not_lagging"},
      {lumetra::kNoUsableBlock, "no_usable_block"},
  };
  std::vector<std::string> out;
  for (const auto& c : kNames) {
    if ((causes & c.bit) != 0) {
      out.push_back(c.name);
    }
  }
  return out;
}

std::vector<std::string> cause_texts(const GainReport& r) {
  const lumetra::Diagnostics& d = r.estimate.diagnostics;
  const std::uint32_t c = d.causes;
  char b[200];
  std::vector<std::string> out;
  if ((c & lumetra::kUnreadableInput) != 0) {
    out.push_back("an input cannot be read as a record of samples");
  }
  if ((c & lumetra::kShortInput) != 0) {
    out.push_back("an input is shorter than the procedure reads");
  }
  if ((c & lumetra::kCoarseTooLarge) != 0) {
    std::snprintf(b, sizeof(b),
                  "coarse delay %.0f samples is above 360000 (7.5 s): activity starts far later "
                  "in the reference than in the recording",
                  d.coarse_delay);
    out.push_back(b);
  }
  if ((c & lumetra::kDelayOutOfRange) != 0) {
    std::snprintf(b, sizeof(b), "total delay %.0f samples is beyond +-240000 (5 s)", d.total_delay);
    out.push_back(b);
  }
  if ((c & lumetra::kPeakNearEnd) != 0) {
    std::snprintf(b, sizeof(b),
                  "correlation peak at index %d lies within 240000 lags of an end of the "
                  "correlation, so its surroundings cannot be judged",
                  d.peak.index);
    out.push_back(b);
  }
  if ((c & lumetra::kPeakNotProminent) != 0) {
    std::snprintf(b, sizeof(b),
                  "correlation peak does not stand out: trust ratio %.6g is above the 0.04 limit",
                  d.trust_ratio);
    out.push_back(b);
  }
  if ((c & lumetra::kNotLagging) != 0) {
    std::snprintf(b, sizeof(b),
                  "total delay %.0f samples: the recording does not lag the reference (it must "
                  "be at least 1 sample late)",
                  d.total_delay);
    out.push_back(b);
  }
  if ((c & lumetra::kNoUsableBlock) != 0) {
    out.push_back("no step has a usable 50 ms block level");
  }
  return out;
}

void print_gain_table(std::FILE* out, const GainReport& r) {
  const lumetra::Estimate& e = r.estimate;
  const lumetra::Diagnostics& d = e.diagnostics;
  std::fprintf(out, "reference  %s\n", describe_file(r.reference).c_str());
  std::fprintf(out, "recording  %s\n", describe_file(r.recording).c_str());
  std::fprintf(out, "steps      11 of %.1f s after the 15 s alignment opening\n\n", r.step_period);

  std::fprintf(out, "%4s %9s %21s %21s %9s\n", "", "start", "reference", "recording", "gain");
  std::fprintf(out, "%4s %9s %10s %10s %10s %10s %9s\n", "step", "s", "level dB", "spread dB",
               "level dB", "spread dB", "dB");
  for (int k = 0; k < kSteps; ++k) {
    const double start = static_cast<double>(r.layout.step[k].first) / kRate;
    std::fprintf(out, "%4d %9.3f %10s %10s %10s %10s %9s\n", k + 1, start,
                 number_text(r.own.step_level[k]).c_str(), number_text(r.own.step_range[k]).c_str(),
                 number_text(e.step_level[k]).c_str(), number_text(e.step_range[k]).c_str(),
                 number_text(r.gain[k], "%+.3f").c_str());
  }
  std::fprintf(out, "\npeak level  %s dB re 32767 (largest sample of the aligned recording)\n\n",
               number_text(e.peak_level).c_str());

  std::fprintf(out, "alignment\n");
  std::fprintf(
      out, "  onset frames       reference %d, recording %d (240-sample frames from 1; 0: none)\n",
      d.onsets.reference, d.onsets.recording);
  std::fprintf(out, "  coarse delay       %s samples, flag %s (set above 360000)\n",
               number_text(d.coarse_delay, "%.0f").c_str(),
               number_text(d.coarse_too_large, "%.0f").c_str());
  std::fprintf(out, "  correlation peak   index %d of 1439999, magnitude %s\n", d.peak.index,
               number_text(d.peak.value, "%.6g").c_str());
  std::fprintf(out, "  trust ratio        %s (limit 0.04%s)\n",
               number_text(d.trust_ratio, "%.6g").c_str(),
               std::isnan(d.trust_ratio) ? "; not judged" : "");
  std::fprintf(out, "  total delay        %s samples = %s ms\n",
               number_text(d.total_delay, "%.0f").c_str(),
               number_text(d.total_delay_ms(), "%.4f").c_str());
  std::fprintf(out, "  aligned recording  %s\n\n", copy_text(r).c_str());

  if (e.failed == 0.0) {
    std::fprintf(out, "result     trusted (failed = 0)\n");
  } else {
    std::fprintf(out, "result     NOT TRUSTED (failed = 1):\n");
    for (const std::string& t : cause_texts(r)) {
      std::fprintf(out, "  - %s\n", t.c_str());
    }
  }
}

std::string gain_json(const GainReport& r) {
  const lumetra::Estimate& e = r.estimate;
  const lumetra::Diagnostics& d = e.diagnostics;
  Json j;
  j.begin_object();
  j.key("schema").value("lumetra-measure/1");
  file_json(j, "reference", r.reference);
  file_json(j, "recording", r.recording);
  j.key("step_mode").value(r.step_mode);
  j.key("step_period_s").value(r.step_period);
  j.key("steps").begin_array();
  for (int k = 0; k < kSteps; ++k) {
    j.begin_object();
    j.key("step").value(k + 1);
    j.key("start_sample").value(r.layout.step[k].first);
    j.key("samples").value(r.layout.step[k].count);
    j.key("level_db").value(e.step_level[k]);
    j.key("spread_db").value(e.step_range[k]);
    j.key("reference_level_db").value(r.own.step_level[k]);
    j.key("reference_spread_db").value(r.own.step_range[k]);
    j.key("gain_db").value(r.gain[k]);
    j.end_object();
  }
  j.end_array();
  j.key("peak_level_db").value(e.peak_level);
  j.key("failed").value(e.failed);
  j.key("causes").begin_array();
  for (const std::string& c : cause_names(d.causes)) {
    j.value(c);
  }
  j.end_array();
  j.key("alignment").begin_object();
  j.key("onset_frame_reference").value(d.onsets.reference);
  j.key("onset_frame_recording").value(d.onsets.recording);
  j.key("coarse_delay_samples").value(d.coarse_delay);
  j.key("coarse_delay_flag").value(d.coarse_too_large);
  j.key("peak_index").value(d.peak.index);
  j.key("peak_value").value(d.peak.value);
  j.key("trust_ratio").value(d.trust_ratio);
  j.key("trust_limit").value(lumetra::kTrustLimit);
  j.key("total_delay_samples").value(d.total_delay);
  j.key("total_delay_ms").value(d.total_delay_ms());
  j.key("aligned").value(copy_name(d.copy));
  j.key("aligned_samples").value(d.aligned_samples);
  j.end_object();
  j.key("version").value(AUDIOMEASURE_VERSION);
  j.end_object();
  return j.str();
}

std::string gain_svg(const GainReport& r) {
  const lumetra::Estimate& e = r.estimate;
  const lumetra::Diagnostics& d = e.diagnostics;
  StepChart c;
  c.title = "lumetra-measure: step levels";
  c.notes.push_back("reference: " + r.reference.path);
  c.notes.push_back(
      "recording: " + r.recording.path +
      (r.recording.channels > 1 ? " (channel " + std::to_string(r.recording.channel) + ")" : ""));
  char b[200];
  std::snprintf(
      b, sizeof(b), "11 steps of %.1f s; total delay %s samples (%s ms); peak level %s dB",
      r.step_period, number_text(d.total_delay, "%.0f").c_str(),
      number_text(d.total_delay_ms(), "%.3f").c_str(), number_text(e.peak_level, "%.2f").c_str());
  c.notes.push_back(b);
  c.trusted = e.failed == 0.0;
  if (c.trusted) {
    c.verdict = "trusted (failed = 0)";
  } else {
    c.verdict = "NOT TRUSTED (failed = 1):";
    for (const std::string& n : cause_names(d.causes)) {
      c.verdict += " " + n;
    }
  }
  c.reference.name = "reference";
  c.recording.name = "recording";
  for (int k = 0; k < kSteps; ++k) {
    c.reference.level[k] = r.own.step_level[k];
    c.reference.spread[k] = r.own.step_range[k];
    c.recording.level[k] = e.step_level[k];
    c.recording.spread[k] = e.step_range[k];
    c.gain[k] = r.gain[k];
  }
  return step_chart_svg(c);
}

std::vector<std::string> write_gain_demo(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) {
    throw OutputError(dir + ": cannot make the folder: " + ec.message());
  }
  const stimulus::Stepped stepped;  // 25.2 s steps
  const std::vector<double> reference = stimulus::stepped_reference(stepped);
  stimulus::Device device;
  device.delay = 12345;
  device.step_gain_db = {0.5, -1.0, 1.5, -2.0, 2.5, -3.0, 0.25, -0.75, 3.5, -1.25, 1.0};
  device.noise_db = -80.0;
  const std::vector<double> recording = stimulus::record(reference, device, stepped.step_seconds);
  const std::string ref_path = (std::filesystem::path(dir) / "reference.wav").string();
  const std::string rec_path = (std::filesystem::path(dir) / "recording.wav").string();
  write_wav16(ref_path, reference, kRate);
  write_wav16(rec_path, recording, kRate);

  std::vector<std::string> lines;
  lines.push_back(ref_path + ": the stepped stimulus, 15 s of noise then 11 tones of 25.2 s");
  lines.push_back(rec_path + ": it through a simulated device, 16-bit PCM at 48000 Hz");
  char b[200];
  std::snprintf(b, sizeof(b), "device: %lld samples late (%.4f ms), noise at %.0f dB re 32767",
                static_cast<long long>(device.delay), static_cast<double>(device.delay) / 48.0,
                device.noise_db);
  lines.push_back(b);
  std::string gains = "device gain per step, dB:";
  for (double g : device.step_gain_db) {
    std::snprintf(b, sizeof(b), " %+.2f", g);
    gains += b;
  }
  lines.push_back(gains);
  return lines;
}

}  // namespace cli
