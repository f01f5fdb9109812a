#include "lumetra-measure/gain_measure.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <span>

#include "audiomeasure_version.h"
#include "common/json.h"
#include "common/record.h"
#include "common/report_text.h"
#include "lumetra-measure/step_chart.h"
#include "lumetra.h"
#include "stimulus.h"

namespace cli {
namespace {

using lumetra::kSteps;

constexpr int kRate = lumetra::kRateHz;

std::string seconds(std::int64_t samples) {
  return duration_text(samples, kRate);
}

// Samples as seconds, for limits: "5 s", "7.5 s".
std::string limit_seconds(double samples) {
  char b[32];
  std::snprintf(b, sizeof(b), "%g s", samples / lumetra::kRate);
  return b;
}

// A coverage as a percentage cut (not rounded) to 0.1 %, so that a step not
// wholly covered never shows 100 %; "-" for an empty settled half.
std::string percent_text(double c) {
  if (std::isnan(c)) {
    return "-";
  }
  if (c == 1.0) {
    return "100%";
  }
  char b[32];
  std::snprintf(b, sizeof(b), "%.1f%%", std::floor(c * 1000.0) / 10.0);
  return b;
}

// The table's column: the percentage, marked with * when not whole.
std::string coverage_text(double c) {
  char b[32];
  std::snprintf(b, sizeof(b), "%7s%s", percent_text(c).c_str(), c < 1.0 ? " *" : "");
  return b;
}

std::string step_list(const std::vector<int>& steps) {
  std::string s;
  for (int k : steps) {
    s += (s.empty() ? "" : ", ") + std::to_string(k);
  }
  return s;
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

// How the period was chosen, for the table.
std::string period_source_text(const GainReport& r) {
  char b[120];
  if (r.period_from_option) {
    std::snprintf(b, sizeof(b), "%.1f s as --step-period gave", r.step_period);
  } else if (!std::isnan(r.period_check.fitting)) {
    std::snprintf(b, sizeof(b), "%.1f s found: the reference's steps are steady under it alone",
                  r.step_period);
  } else {
    std::snprintf(b, sizeof(b), "%.1f s by default: no period fits the reference clearly",
                  r.step_period);
  }
  return b;
}

}  // namespace

void check_gain_inputs(const AudioInfo& reference, const AudioInfo& recording,
                       std::optional<double> step_mode) {
  for (const AudioInfo* a : {&reference, &recording}) {
    if (a->rate != kRate) {
      throw InputError(a->path + ": sample rate " + std::to_string(a->rate) +
                       " Hz; lumetra measures " + std::to_string(kRate) +
                       " Hz only (--resample converts it)");
    }
  }
  // Without a period given, the reference must hold the shorter layout.
  const double period = lumetra::step_period(step_mode.value_or(1.0));
  const std::int64_t need = lumetra::required_reference_length(period);
  if (reference.frames < need) {
    char p[16];
    std::snprintf(p, sizeof(p), "%.1f", period);
    throw InputError(reference.path + ": " + std::to_string(reference.frames) + " samples (" +
                     seconds(reference.frames) + "); a reference with " + p +
                     " s steps needs at least " + std::to_string(need) + " (" + seconds(need) +
                     "): the " + limit_seconds(lumetra::kSpan) + " opening and " +
                     std::to_string(kSteps - 1) + " whole steps");
  }
  if (recording.frames < lumetra::kMinRecording) {
    throw InputError(recording.path + ": " + std::to_string(recording.frames) + " samples (" +
                     seconds(recording.frames) + "); a recording needs at least " +
                     std::to_string(lumetra::kMinRecording) + " (" +
                     limit_seconds(lumetra::kMinRecording) + ") to be aligned");
  }
}

void choose_step_period(GainReport& r, std::span<const double> reference,
                        std::optional<double> step_mode) {
  choose_step_period(r, check_step_period(reference), step_mode);
}

void choose_step_period(GainReport& r, const StepPeriodCheck& check,
                        std::optional<double> step_mode) {
  r.period_check = check;
  const StepPeriodCheck& c = r.period_check;
  r.period_from_option = step_mode.has_value();
  const bool fits = !std::isnan(c.fitting);
  if (step_mode) {
    r.step_mode = *step_mode;
  } else if (fits) {
    r.step_mode = c.fitting == lumetra::kLongStep ? 0.0 : 1.0;
  } else {
    r.step_mode = c.layouts[0].held ? 0.0 : 1.0;
  }
  r.step_period = lumetra::step_period(r.step_mode);
  char b[300];
  r.period_warning.clear();
  if (!fits && !step_mode) {
    std::snprintf(b, sizeof(b),
                  "the reference's steps fit neither step period clearly (%s; steady is at most "
                  "%g dB, ruled out at least %g dB): measured with %.1f s steps; give "
                  "--step-period if that is wrong",
                  step_spread_text(c).c_str(), kSteadyDb, kUnsteadyDb, r.step_period);
    r.period_warning = b;
  } else if (fits && c.fitting != r.step_period) {
    std::snprintf(b, sizeof(b),
                  "the reference's steps fit %.1f s steps, not the %.1f s given (%s): the "
                  "steps measured straddle the reference's; --step-period %.1f (or auto) "
                  "measures it as it is laid out",
                  c.fitting, r.step_period, step_spread_text(c).c_str(), c.fitting);
    r.period_warning = b;
  }
}

namespace {

// The next chunk of a file's samples, empty at its end.
using NextChunk = std::function<std::span<const double>()>;

constexpr std::size_t kChunk = 65536;  // samples read at most at a time

// A whole array as one chunk.
NextChunk whole(const std::vector<double>& samples) {
  return [&samples, given = false]() mutable {
    const std::span<const double> s = given ? std::span<const double>() : samples;
    given = true;
    return s;
  };
}

// A file in chunks of at most kChunk, through `buffer`.
NextChunk chunks(InputFile& file, std::vector<double>& buffer) {
  buffer.resize(kChunk);
  return
      [&file, &buffer] { return std::span<const double>(buffer.data(), file.read_chunk(buffer)); };
}

// A file read in chunks, once at its end: the lengths read.
AudioInfo info_read(const InputFile& file) {
  AudioInfo a = file.info();
  a.frames = file.chunk_samples();
  if (a.resampled_from_rate != 0) {
    a.resampled_from_frames = file.chunk_file_frames();
  }
  return a;
}

// A first non-finite sample of a resampled file named at its own rate.
void at_file_rate(std::optional<NonFiniteSample>& s, const AudioInfo& info,
                  std::int64_t file_non_finite) {
  if (s && info.resampled_from_rate != 0) {
    s->position = file_non_finite;
    s->file_rate = info.resampled_from_rate;
  }
}

// The reference's summary from its samples in order; info.frames is its
// length.
ReferenceSummary summarise(const AudioInfo& info, const NextChunk& next) {
  ReferenceSummary s;
  s.info = info;
  const std::int64_t n = info.frames;
  StepPeriodStream period(n);
  const double periods[2] = {lumetra::step_period(0.0), lumetra::step_period(1.0)};
  std::optional<lumetra::StepMeter> own[2];
  for (int i = 0; i < 2; ++i) {
    if (n >= lumetra::required_reference_length(periods[i])) {
      own[i].emplace(lumetra::step_layout(periods[i], n), n);
    }
  }
  constexpr std::size_t kOpening = lumetra::kSpan + 1;
  std::int64_t at = 0;  // the position of the chunk's first sample
  for (std::span<const double> c = next(); !c.empty(); c = next()) {
    const std::size_t keep = std::min(c.size(), kOpening - s.opening.size());
    s.opening.insert(s.opening.end(), c.begin(), c.begin() + static_cast<std::ptrdiff_t>(keep));
    if (!s.non_finite) {
      s.non_finite = first_non_finite("reference", info, c, at);
    }
    period.feed(c);
    for (std::optional<lumetra::StepMeter>& m : own) {
      if (m) {
        m->feed(c);
      }
    }
    at += static_cast<std::int64_t>(c.size());
  }
  s.period_check = period.finish();
  for (int i = 0; i < 2; ++i) {
    if (own[i]) {
      s.own[i] = own[i]->finish();
    } else {
      std::fill_n(s.own[i].step_level, kSteps, std::numeric_limits<double>::quiet_NaN());
      std::fill_n(s.own[i].step_range, kSteps, std::numeric_limits<double>::quiet_NaN());
      s.own[i].peak_level = std::numeric_limits<double>::quiet_NaN();
    }
  }
  return s;
}

// The measurement on the reference's summary and the recording's samples in
// order; recording.frames is its length. file_non_finite gives, at the end,
// the recording's first non-finite sample at its own rate (resampled).
GainReport measure_from(const ReferenceSummary& reference, const AudioInfo& recording,
                        const NextChunk& next, const std::function<std::int64_t()>& file_non_finite,
                        std::optional<double> step_mode) {
  check_gain_inputs(reference.info, recording, step_mode);
  GainReport r;
  r.reference = reference.info;
  r.recording = recording;
  choose_step_period(r, reference.period_check, step_mode);
  const std::int64_t n = reference.info.frames;
  r.layout = lumetra::step_layout(r.step_period, n);
  r.own = reference.own[r.step_mode == 0.0 ? 0 : 1];

  // The recording's opening, and what is left of the chunk that ends it.
  std::vector<double> opening;
  opening.reserve(lumetra::kSpan);
  std::span<const double> rest;
  while (opening.size() < static_cast<std::size_t>(lumetra::kSpan)) {
    const std::span<const double> c = next();
    if (c.empty()) {
      break;
    }
    const std::size_t keep = std::min(c.size(), lumetra::kSpan - opening.size());
    opening.insert(opening.end(), c.begin(), c.begin() + static_cast<std::ptrdiff_t>(keep));
    rest = c.subspan(keep);
  }
  lumetra::EstimateStream stream(reference.opening, opening, n, r.step_mode,
                                 lumetra::static_workspace());
  // The recording's first non-finite sample; whether the measurement uses it
  // is known at the end.
  std::optional<NonFiniteSample> bad;
  std::int64_t at = 0;  // the position of the chunk's first sample
  const auto feed = [&](std::span<const double> c) {
    if (!bad) {
      bad = first_non_finite("recording", recording, c, at);
    }
    stream.feed_recording(c);
    at += static_cast<std::int64_t>(c.size());
  };
  feed(opening);
  if (!rest.empty()) {
    feed(rest);
  }
  if (opening.size() == static_cast<std::size_t>(lumetra::kSpan)) {
    for (std::span<const double> c = next(); !c.empty(); c = next()) {
      feed(c);
    }
  }
  r.estimate = stream.finish();

  const lumetra::Diagnostics& d = r.estimate.diagnostics;
  for (int k = 0; k < kSteps; ++k) {
    r.gain[k] = r.estimate.step_level[k] - r.own.step_level[k];
    // Aligned positions below aligned_samples come from the file.
    const lumetra::Stretch& s = r.layout.settled[k];
    const std::int64_t held = std::clamp<std::int64_t>(d.aligned_samples - s.first, 0, s.count);
    r.coverage[k] = s.count == 0 ? std::numeric_limits<double>::quiet_NaN()
                                 : static_cast<double>(held) / static_cast<double>(s.count);
    if (d.copy != lumetra::Copy::kFailed && held < s.count) {
      r.uncovered.push_back(k + 1);
    }
  }
  // The samples the measurement reads: the whole reference (its opening is
  // correlated, its steps measured as its own); the recording's opening and,
  // when aligned, the stretch from the delay on that fills the aligned copy.
  std::int64_t read = lumetra::kMinRecording;
  if (d.copy != lumetra::Copy::kFailed) {
    read = std::max(read, static_cast<std::int64_t>(d.total_delay) + d.aligned_samples);
  }
  r.non_finite = reference.non_finite;
  if (!r.non_finite && bad && bad->position < read) {
    r.non_finite = bad;
    at_file_rate(r.non_finite, recording, file_non_finite());
  }
  return r;
}

}  // namespace

ReferenceSummary summarise_reference(const Audio& reference) {
  ReferenceSummary s = summarise(reference.info, whole(reference.samples));
  at_file_rate(s.non_finite, reference.info, reference.file_non_finite);
  return s;
}

ReferenceSummary read_reference(InputFile& file) {
  if (file.info().frames == kUnknownFrames) {
    return summarise_reference(file.read());
  }
  std::vector<double> buffer;
  ReferenceSummary s = summarise(file.info(), chunks(file, buffer));
  s.info = info_read(file);
  at_file_rate(s.non_finite, s.info, file.file_non_finite());
  return s;
}

GainReport measure_gain(const ReferenceSummary& reference, InputFile& recording,
                        std::optional<double> step_mode) {
  if (recording.info().frames == kUnknownFrames) {
    const Audio whole_file = recording.read();
    return measure_from(
        reference, whole_file.info, whole(whole_file.samples),
        [&] { return whole_file.file_non_finite; }, step_mode);
  }
  std::vector<double> buffer;
  GainReport r = measure_from(
      reference, recording.info(), chunks(recording, buffer),
      [&] { return recording.file_non_finite(); }, step_mode);
  r.recording = info_read(recording);
  return r;
}

GainReport measure_gain(const Audio& reference, const Audio& recording,
                        std::optional<double> step_mode) {
  check_gain_inputs(reference.info, recording.info, step_mode);
  return measure_from(
      summarise_reference(reference), recording.info, whole(recording.samples),
      [&] { return recording.file_non_finite; }, step_mode);
}

std::vector<std::string> cause_names(std::uint32_t causes) {
  std::vector<std::string> out;
  for (const lumetra::CauseText& c : lumetra::kCauseTexts) {
    if ((causes & c.bit) != 0) {
      out.push_back(c.name);
    }
  }
  return out;
}

std::vector<std::string> cause_texts(const GainReport& r) {
  const lumetra::Diagnostics& d = r.estimate.diagnostics;
  std::vector<std::string> out;
  for (const lumetra::CauseText& c : lumetra::kCauseTexts) {
    if ((d.causes & c.bit) == 0) {
      continue;
    }
    // The figures of this call behind the sentence.
    char b[200] = "";
    switch (c.bit) {
      case lumetra::kCoarseTooLarge:
        std::snprintf(b, sizeof(b), " (coarse delay %.0f samples, limit %.0f = %s)", d.coarse_delay,
                      lumetra::kCoarseDelayLimit,
                      limit_seconds(lumetra::kCoarseDelayLimit).c_str());
        break;
      case lumetra::kDelayOutOfRange:
        std::snprintf(b, sizeof(b), " (total delay %.0f samples, limit +-%.0f = %s)", d.total_delay,
                      lumetra::kMaxDelay, limit_seconds(lumetra::kMaxDelay).c_str());
        break;
      case lumetra::kPeakNearEnd:
        std::snprintf(b, sizeof(b),
                      " (peak at index %d of %d; the judged window reaches %d lags "
                      "to each side)",
                      d.peak.index, lumetra::kLags, lumetra::kTrustHalfWidth);
        break;
      case lumetra::kPeakNotProminent:
        std::snprintf(b, sizeof(b), " (trust ratio %.6g, limit %g)", d.trust_ratio,
                      lumetra::kTrustLimit);
        break;
      case lumetra::kNotLagging:
        std::snprintf(b, sizeof(b), " (total delay %.0f samples)", d.total_delay);
        break;
      default:
        break;
    }
    out.push_back(std::string(c.text) + b);
  }
  return out;
}

const char* gain_verdict(const GainReport& r) {
  if (r.non_finite) {
    return "non_finite_samples";
  }
  if (r.estimate.failed != 0.0) {
    return "not_trusted";
  }
  return r.uncovered.empty() ? "trusted" : "incomplete";
}

std::vector<std::string> verdict_causes(const GainReport& r) {
  std::vector<std::string> out;
  if (r.non_finite) {
    out.push_back("non_finite_samples");
  }
  for (const std::string& c : cause_names(r.estimate.diagnostics.causes)) {
    out.push_back(c);
  }
  if (!r.uncovered.empty()) {
    out.push_back("steps_not_covered");
  }
  return out;
}

std::vector<std::string> verdict_texts(const GainReport& r) {
  std::vector<std::string> out;
  if (r.non_finite) {
    out.push_back(non_finite_text(*r.non_finite));
  }
  for (const std::string& t : cause_texts(r)) {
    out.push_back(t);
  }
  if (!r.uncovered.empty()) {
    std::string shares;
    for (int k : r.uncovered) {
      shares += (shares.empty() ? "" : ", ") + percent_text(r.coverage[k - 1]);
    }
    out.push_back("the recording ends early: the measured half of step" +
                  std::string(r.uncovered.size() > 1 ? "s " : " ") + step_list(r.uncovered) +
                  " comes only partly from it (" + shares +
                  " from the file); the rest is silence padding");
  }
  return out;
}

void print_gain_table(std::FILE* out, const GainReport& r) {
  const lumetra::Estimate& e = r.estimate;
  const lumetra::Diagnostics& d = e.diagnostics;
  std::fprintf(out, "reference  %s\n", describe_file(r.reference).c_str());
  std::fprintf(out, "recording  %s\n", describe_file(r.recording).c_str());
  std::fprintf(out, "steps      %d of %.1f s after the %s alignment opening\n", kSteps,
               r.step_period, limit_seconds(lumetra::kSpan).c_str());
  std::fprintf(out, "period     %s (%s)\n", period_source_text(r).c_str(),
               step_spread_text(r.period_check).c_str());
  if (!r.period_warning.empty()) {
    std::fprintf(out, "warning    %s\n", r.period_warning.c_str());
  }
  std::fprintf(out, "\n");

  std::fprintf(out, "%4s %9s %21s %21s %9s %9s\n", "", "start", "reference", "recording", "gain",
               "from");
  std::fprintf(out, "%4s %9s %10s %10s %10s %10s %9s %9s\n", "step", "s", "level dB", "spread dB",
               "level dB", "spread dB", "dB", "file");
  for (int k = 0; k < kSteps; ++k) {
    const double start = static_cast<double>(r.layout.step[k].first) / lumetra::kRate;
    std::fprintf(out, "%4d %9.3f %10s %10s %10s %10s %9s %s\n", k + 1, start,
                 number_text(r.own.step_level[k]).c_str(), number_text(r.own.step_range[k]).c_str(),
                 number_text(e.step_level[k]).c_str(), number_text(e.step_range[k]).c_str(),
                 number_text(r.gain[k], "%+.3f").c_str(), coverage_text(r.coverage[k]).c_str());
  }
  if (!r.uncovered.empty()) {
    std::fprintf(out,
                 "* the share of the step's measured half that comes from the recording file; "
                 "the rest is silence\n");
  }
  std::fprintf(out, "\npeak level  %s dB re 32767 (largest sample of the aligned recording)\n\n",
               number_text(e.peak_level).c_str());

  std::fprintf(out, "alignment\n");
  std::fprintf(out,
               "  onset frames       reference %d, recording %d (%d-sample frames from 1; 0: "
               "none)\n",
               d.onsets.reference, d.onsets.recording, lumetra::kHop);
  std::fprintf(out, "  coarse delay       %s samples, flag %s (set above %.0f)\n",
               number_text(d.coarse_delay, "%.0f").c_str(),
               number_text(d.coarse_too_large, "%.0f").c_str(), lumetra::kCoarseDelayLimit);
  std::fprintf(out, "  correlation peak   index %d of %d, magnitude %s\n", d.peak.index,
               lumetra::kLags, number_text(d.peak.value, "%.6g").c_str());
  std::fprintf(out, "  trust ratio        %s (limit %g%s)\n",
               number_text(d.trust_ratio, "%.6g").c_str(), lumetra::kTrustLimit,
               std::isnan(d.trust_ratio) ? "; not judged" : "");
  std::fprintf(out, "  total delay        %s samples = %s ms\n",
               number_text(d.total_delay, "%.0f").c_str(),
               number_text(d.total_delay_ms(), "%.4f").c_str());
  std::fprintf(out, "  aligned recording  %s\n\n", copy_text(r).c_str());

  const std::string verdict = gain_verdict(r);
  if (verdict == "trusted") {
    std::fprintf(out, "result     trusted (failed = 0)\n");
    return;
  }
  const char* head = verdict == "not_trusted"  ? "NOT TRUSTED"
                     : verdict == "incomplete" ? "INCOMPLETE"
                                               : "NOT USABLE";
  std::fprintf(out, "result     %s (failed = %s):\n", head, number_text(e.failed, "%.0f").c_str());
  for (const std::string& t : verdict_texts(r)) {
    std::fprintf(out, "  - %s\n", t.c_str());
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
    j.key("coverage").value(r.coverage[k]);
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
  j.key("verdict").value(gain_verdict(r));
  j.key("verdict_causes").begin_array();
  for (const std::string& c : verdict_causes(r)) {
    j.value(c);
  }
  j.end_array();
  j.key("uncovered_steps").begin_array();
  for (int k : r.uncovered) {
    j.value(k);
  }
  j.end_array();
  non_finite_json(j, "non_finite_sample", r.non_finite);
  j.key("version").value(AUDIOMEASURE_VERSION);
  j.key("step_period_source").value(r.period_from_option ? "option" : "auto");
  j.key("step_period_check").begin_object();
  j.key("fitting_period_s");
  if (std::isnan(r.period_check.fitting)) {
    j.null();
  } else {
    j.value(r.period_check.fitting);
  }
  j.key("layouts").begin_array();
  for (const LayoutFit& f : r.period_check.layouts) {
    j.begin_object();
    j.key("period_s").value(f.period);
    j.key("held").value(f.held);
    j.key("median_step_spread_db");
    if (f.held) {
      j.value(f.median_spread_db);
    } else {
      j.null();
    }
    j.end_object();
  }
  j.end_array();
  j.key("steady_limit_db").value(kSteadyDb);
  j.key("unsteady_limit_db").value(kUnsteadyDb);
  j.key("guard_samples").value(kStepGuard);
  j.end_object();
  j.key("step_period_warning");
  if (r.period_warning.empty()) {
    j.null();
  } else {
    j.value(r.period_warning);
  }
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
      b, sizeof(b), "%d steps of %.1f s; total delay %s samples (%s ms); peak level %s dB", kSteps,
      r.step_period, number_text(d.total_delay, "%.0f").c_str(),
      number_text(d.total_delay_ms(), "%.3f").c_str(), number_text(e.peak_level, "%.2f").c_str());
  c.notes.push_back(b);
  const std::string verdict = gain_verdict(r);
  c.trusted = verdict == "trusted";
  if (c.trusted) {
    c.verdict = "trusted (failed = 0)";
  } else {
    c.verdict = verdict + " (failed = " + number_text(e.failed, "%.0f") + "):";
    for (const std::string& n : verdict_causes(r)) {
      c.verdict += " " + n;
    }
    if (!r.uncovered.empty()) {
      c.verdict += " (steps " + step_list(r.uncovered) + ")";
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
  lines.push_back(rec_path + ": it through a simulated device, 16-bit PCM at " +
                  std::to_string(kRate) + " Hz");
  char b[200];
  std::snprintf(b, sizeof(b), "device: %lld samples late (%.4f ms), noise at %.0f dB re 32767",
                static_cast<long long>(device.delay),
                static_cast<double>(device.delay) * 1000.0 / lumetra::kRate, device.noise_db);
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
