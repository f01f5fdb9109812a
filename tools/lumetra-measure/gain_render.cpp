#include "lumetra-measure/gain_render.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "common/command_line.h"
#include "common/csv.h"
#include "common/html_report.h"
#include "common/json.h"
#include "common/junit.h"
#include "common/markup.h"
#include "lumetra-measure/step_chart.h"

namespace cli {
namespace {

constexpr const char* kProgram = "lumetra-measure";
constexpr int kRate = AM_GAIN_RATE;
// Correlation values on each side of the peak that the trust test judges.
constexpr int kTrustHalfWidth = 240000;
// The two step layouts, in the order the report keeps them.
constexpr int kLayouts[2] = {AM_PERIOD_25_2, AM_PERIOD_24_7};

std::string limit_seconds(double samples) {
  return seconds_text(samples, kRate);
}

// A period's length in seconds: the library names each period by it.
double period_seconds(int period) {
  return std::strtod(am_enum_name(AM_ENUM_PERIOD, period), nullptr);
}

// The steps (from 1) of a report's step mask (bit k - 1 for step k).
std::vector<int> steps_in(std::uint32_t mask) {
  std::vector<int> steps;
  for (int k = 0; k < AM_STEPS; ++k) {
    if ((mask >> k & 1u) != 0) {
      steps.push_back(k + 1);
    }
  }
  return steps;
}

// The steps (from 1) whose reading is questionable for `cause`.
std::vector<int> questionable_for(const am_gain_report& r, int cause) {
  std::uint32_t mask = 0;
  for (int k = 0; k < AM_STEPS; ++k) {
    if ((r.step_questionable[k] >> cause & 1u) != 0) {
      mask |= 1u << k;
    }
  }
  return steps_in(mask);
}

// A DC offset matters where it makes up half or more of a step's noise and
// distortion: the residual that no linear response explains is then mostly
// the offset, which a coupling capacitor or a high-pass removes.
bool dc_matters(const am_gain_report& r, int k) {
  return r.dc_offset_db[k] >= r.noise_distortion_db[k] - 3.0;
}

// The figures behind a questionable step's cause, "step 3: -10.2 dB", with
// the limit the options set.
std::string quality_figures(const am_gain_report& r, const am_gain_options& o, int cause) {
  std::string s;
  for (int step : questionable_for(r, cause)) {
    const int k = step - 1;
    s += s.empty() ? " (" : "; ";
    s += "step " + std::to_string(step) + ": ";
    switch (cause) {
      case AM_CAUSE_NOISE_DISTORTION:
        s += number_text(r.noise_distortion_db[k], "%.1f") + " dB";
        if (dc_matters(r, k)) {
          s += ", mostly a DC offset of " + number_text(r.dc_offset_db[k], "%.1f") + " dB";
        }
        break;
      case AM_CAUSE_CLIPPING:
        s += std::to_string(r.clipped_samples[k]) + " samples";
        break;
      default:
        s += "spread " + number_text(r.step_range[k], "%.2f") + " dB, " +
             number_text(r.spread_excess_db[k], "%.2f") + " dB above the reference's";
        break;
    }
  }
  switch (cause) {
    case AM_CAUSE_NOISE_DISTORTION:
      return s + printed("; limit %g dB re the step's level)", o.max_noise_distortion_db);
    case AM_CAUSE_CLIPPING:
      return s + printed("; limit %lld)", static_cast<long long>(o.max_clipped_samples));
    default:
      return s + printed("; limit %g dB above)", o.max_spread_excess_db);
  }
}

// The step quality table: what the recording holds besides the device's
// response to the reference, per step, with the questionable steps marked
// and their causes named.
std::string quality_table(const GainModel& m) {
  const am_gain_report& r = m.report;
  const am_gain_options& o = m.options;
  std::string t = printed(
      "step quality (! questionable; limits: noise+dist %g dB, spread excess %g dB, "
      "clipped %lld)\n",
      o.max_noise_distortion_db, o.max_spread_excess_db,
      static_cast<long long>(o.max_clipped_samples));
  t += printed("%4s %1s %12s %10s %10s %10s\n", "", "", "noise+dist", "DC offset", "spread",
               "clipped");
  t += printed("%4s %1s %12s %10s %10s %10s\n", "step", "", "dB", "dB", "excess dB", "samples");
  for (int k = 0; k < AM_STEPS; ++k) {
    const bool questionable = r.step_questionable[k] != 0;
    std::string causes;
    for (const std::string& c : cause_names(r.step_questionable[k])) {
      causes += (causes.empty() ? "  " : ", ") + c;
    }
    t += printed("%4d %s %12s %10s %10s %10lld%s\n", k + 1, questionable ? "!" : " ",
                 number_text(r.noise_distortion_db[k], "%.2f").c_str(),
                 number_text(r.dc_offset_db[k], "%.2f").c_str(),
                 number_text(r.spread_excess_db[k], "%+.3f").c_str(),
                 static_cast<long long>(r.clipped_samples[k]), causes.c_str());
  }
  return t;
}

// The recording's clock against the reference's, for the table.
std::string drift_text(const GainModel& m) {
  const am_gain_report& r = m.report;
  if (std::isnan(r.drift_ppm)) {
    return std::string("cannot be estimated: the steps do not show it") +
           (m.options.drift_correct != 0 ? ", so the recording was not converted" : "");
  }
  const std::string ppm = number_text(r.drift_ppm, "%+.3f") + " ppm";
  if (r.drift_corrected != 0) {
    return ppm + ": the recording was converted by it before it was measured (--drift-correct)";
  }
  return ppm + (m.options.drift_correct != 0 ? " (--drift-correct: too small to convert)"
                                             : " (not corrected)");
}

std::string step_list(const std::vector<int>& steps) {
  std::string s;
  for (int k : steps) {
    s += (s.empty() ? "" : ", ") + std::to_string(k);
  }
  return s;
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
  return printed("%.1f%%", std::floor(c * 1000.0) / 10.0);
}

// The table's column: the percentage, marked with * when not whole.
std::string coverage_text(double c) {
  char b[32];
  std::snprintf(b, sizeof(b), "%7s%s", percent_text(c).c_str(), c < 1.0 ? " *" : "");
  return b;
}

// "median step spread 0.000 dB at 25.2 s, 7.500 dB at 24.7 s" (a layout the
// reference cannot hold: "too short for 25.2 s").
std::string step_spread_text(const am_gain_report& r) {
  std::string s = "median step spread ";
  for (int i = 0; i < 2; ++i) {
    char b[80];
    const double period = period_seconds(kLayouts[i]);
    if (r.layout_held[i] != 0) {
      std::snprintf(b, sizeof(b), "%s%s dB at %.1f s", i == 0 ? "" : ", ",
                    number_text(r.median_step_spread_db[i]).c_str(), period);
    } else {
      std::snprintf(b, sizeof(b), "%stoo short for %.1f s", i == 0 ? "" : ", ", period);
    }
    s += b;
  }
  return s;
}

// How the period was chosen, for the table.
std::string period_source_text(const am_gain_report& r) {
  char b[120];
  if (r.step_period_source == AM_PERIOD_SOURCE_OPTION) {
    std::snprintf(b, sizeof(b), "%.1f s as --step-period gave", r.step_period_s);
  } else if (!std::isnan(r.fitting_period_s)) {
    std::snprintf(b, sizeof(b), "%.1f s found: the reference's steps are steady under it alone",
                  r.step_period_s);
  } else {
    std::snprintf(b, sizeof(b), "%.1f s by default: no period fits the reference clearly",
                  r.step_period_s);
  }
  return b;
}

// How the aligned recording was filled: the library's name, and the figures.
std::string aligned_text(const GainModel& m) {
  const am_gain_report& r = m.report;
  const std::string name = am_enum_name(AM_ENUM_ALIGNED, r.aligned);
  switch (r.aligned) {
    case AM_ALIGNED_WHOLE:
      return name + ": all " + std::to_string(r.aligned_samples) + " samples from the recording";
    case AM_ALIGNED_HEAD:
      return name + ": " + std::to_string(r.aligned_samples) + " of " +
             std::to_string(m.reference.frames) +
             " samples from the recording, which ends early; the rest is silence";
    default:
      return name + ": the alignment failed, so the steps are measured on silence";
  }
}

// The figures of one of lumetra's failure causes, "" for the others.
std::string failure_figures(const am_gain_report& r, int c) {
  switch (c) {
    case AM_CAUSE_COARSE_DELAY_TOO_LARGE:
      return printed(" (coarse delay %.0f samples, limit %.0f = %s)", r.coarse_delay,
                     AM_GAIN_COARSE_LIMIT, limit_seconds(AM_GAIN_COARSE_LIMIT).c_str());
    case AM_CAUSE_DELAY_OUT_OF_RANGE:
      return printed(" (total delay %.0f samples, limit +-%.0f = %s)", r.total_delay,
                     AM_GAIN_MAX_DELAY, limit_seconds(AM_GAIN_MAX_DELAY).c_str());
    case AM_CAUSE_PEAK_NEAR_END:
      return printed(" (peak at index %d of %d; the judged window reaches %d lags to each side)",
                     r.peak_index, AM_GAIN_LAGS, kTrustHalfWidth);
    case AM_CAUSE_PEAK_NOT_PROMINENT:
      return printed(" (trust ratio %.6g, limit %g)", r.trust_ratio, AM_GAIN_TRUST_LIMIT);
    case AM_CAUSE_NOT_LAGGING:
      return printed(" (total delay %.0f samples)", r.total_delay);
    default:
      return "";
  }
}

// One line for a cause of the verdict: the library's sentence with the
// figures of this measurement (the steps not covered and the non-finite
// sample in the tools' words, which name the file and the shares).
std::string verdict_text(const GainModel& m, int c) {
  const am_gain_report& r = m.report;
  switch (c) {
    case AM_CAUSE_NON_FINITE_SAMPLES:
      return m.non_finite ? non_finite_text(*m.non_finite) : am_enum_text(AM_ENUM_CAUSE, c);
    case AM_CAUSE_STEPS_NOT_COVERED: {
      const std::vector<int> steps = steps_in(r.uncovered_steps);
      std::string shares;
      for (int k : steps) {
        shares += (shares.empty() ? "" : ", ") + percent_text(r.coverage[k - 1]);
      }
      return "the recording ends early: the measured half of step" +
             std::string(steps.size() > 1 ? "s " : " ") + step_list(steps) +
             " comes only partly from it (" + shares +
             " from the file); the rest is silence padding";
    }
    case AM_CAUSE_CLOCK_DRIFT:
      return am_enum_text(AM_ENUM_CAUSE, c) +
             printed(" (drift %+.1f ppm; --drift-correct converts it)", r.drift_ppm);
    case AM_CAUSE_NOISE_DISTORTION:
    case AM_CAUSE_CLIPPING:
    case AM_CAUSE_UNSTEADY:
      return am_enum_text(AM_ENUM_CAUSE, c) + quality_figures(r, m.options, c);
    default:
      return am_enum_text(AM_ENUM_CAUSE, c) + failure_figures(r, c);
  }
}

// Everything behind the verdict, a line each, in the order of its causes.
std::vector<std::string> verdict_texts(const GainModel& m) {
  std::vector<std::string> out;
  for (int c = 0; c < AM_CAUSE_COUNT; ++c) {
    if ((m.report.verdict_causes >> c & 1u) != 0) {
      out.push_back(verdict_text(m, c));
    }
  }
  return out;
}

std::string verdict_causes(const am_gain_report& r, const char* separator) {
  std::string s;
  for (const std::string& c : cause_names(r.verdict_causes)) {
    s += (s.empty() ? "" : separator) + c;
  }
  return s;
}

}  // namespace

std::vector<std::string> cause_names(std::uint32_t causes) {
  std::vector<std::string> out;
  for (int c = 0; c < AM_CAUSE_COUNT; ++c) {
    if ((causes >> c & 1u) != 0) {
      out.emplace_back(am_enum_name(AM_ENUM_CAUSE, c));
    }
  }
  return out;
}

std::vector<std::string> cause_texts(const am_gain_report& r) {
  std::vector<std::string> out;
  for (int c = AM_CAUSE_UNREADABLE_INPUT; c <= AM_CAUSE_NO_USABLE_BLOCK; ++c) {
    if ((r.causes >> c & 1u) != 0) {
      out.push_back(am_enum_text(AM_ENUM_CAUSE, c) + failure_figures(r, c));
    }
  }
  return out;
}

std::string period_warning(const GainModel& m) {
  const am_gain_report& r = m.report;
  char b[300];
  switch (r.step_period_warning) {
    case AM_PERIOD_WARNING_NO_CLEAR_FIT:
      std::snprintf(b, sizeof(b),
                    "%s (%s; steady is at most %g dB, ruled out at least %g dB): measured with "
                    "%.1f s steps; give --step-period if that is wrong",
                    am_enum_text(AM_ENUM_PERIOD_WARNING, r.step_period_warning),
                    step_spread_text(r).c_str(), AM_PERIOD_STEADY_DB, AM_PERIOD_UNSTEADY_DB,
                    r.step_period_s);
      return b;
    case AM_PERIOD_WARNING_CONTRADICTED:
      std::snprintf(b, sizeof(b),
                    "the reference's steps fit %.1f s steps, not the %.1f s given (%s): the "
                    "steps measured straddle the reference's; --step-period %.1f (or auto) "
                    "measures it as it is laid out",
                    r.fitting_period_s, r.step_period_s, step_spread_text(r).c_str(),
                    r.fitting_period_s);
      return b;
    default:
      return "";
  }
}

std::string gain_table(const GainModel& m) {
  const am_gain_report& r = m.report;
  std::string t;
  t += "reference  " + describe_file(m.reference) + "\n";
  t += "recording  " + describe_file(m.recording);
  if (r.drift_corrected != 0) {
    t += printed(", converted by its clock drift (%+.3f ppm) to %lld samples", r.drift_ppm,
                 static_cast<long long>(r.recording_length));
  }
  t += "\n";
  t += printed("steps      %d of %.1f s after the %s alignment opening\n", AM_STEPS,
               r.step_period_s, limit_seconds(AM_GAIN_SPAN).c_str());
  t += "period     " + period_source_text(r) + " (" + step_spread_text(r) + ")\n";
  if (const std::string w = period_warning(m); !w.empty()) {
    t += "warning    " + w + "\n";
  }
  t += "\n";

  t +=
      printed("%4s %9s %21s %21s %9s %9s\n", "", "start", "reference", "recording", "gain", "from");
  t += printed("%4s %9s %10s %10s %10s %10s %9s %9s\n", "step", "s", "level dB", "spread dB",
               "level dB", "spread dB", "dB", "file");
  for (int k = 0; k < AM_STEPS; ++k) {
    const double start = static_cast<double>(r.step_start[k]) / kRate;
    t += printed("%4d %9.3f %10s %10s %10s %10s %9s %s\n", k + 1, start,
                 number_text(r.reference_step_level[k]).c_str(),
                 number_text(r.reference_step_range[k]).c_str(),
                 number_text(r.step_level[k]).c_str(), number_text(r.step_range[k]).c_str(),
                 number_text(r.gain[k], "%+.3f").c_str(), coverage_text(r.coverage[k]).c_str());
  }
  if (r.uncovered_steps != 0) {
    t += "* the share of the step's measured half that comes from the recording file; the rest "
         "is silence\n";
  }
  t += "\n" + quality_table(m);
  t += "\npeak level  " + number_text(r.peak_level) +
       " dB re 32767 (largest sample of the aligned recording)\n\n";

  t += "alignment\n";
  t += printed(
      "  onset frames       reference %d, recording %d (%d-sample frames from 1; 0: none)\n",
      r.onset_frame_reference, r.onset_frame_recording, AM_GAIN_ONSET_HOP);
  t += printed("  coarse delay       %s samples, flag %s (set above %.0f)\n",
               number_text(r.coarse_delay, "%.0f").c_str(),
               number_text(r.coarse_delay_flag, "%.0f").c_str(), AM_GAIN_COARSE_LIMIT);
  t += printed("  correlation peak   index %d of %d, magnitude %s\n", r.peak_index, AM_GAIN_LAGS,
               number_text(r.peak_value, "%.6g").c_str());
  t += printed("  trust ratio        %s (limit %g%s)\n", number_text(r.trust_ratio, "%.6g").c_str(),
               AM_GAIN_TRUST_LIMIT, std::isnan(r.trust_ratio) ? "; not judged" : "");
  t += printed("  total delay        %s samples = %s ms\n",
               number_text(r.total_delay, "%.0f").c_str(),
               number_text(r.total_delay_ms, "%.4f").c_str());
  t += "  aligned recording  " + aligned_text(m) + "\n";
  t += "  clock drift        " + drift_text(m) + "\n\n";

  const char* head = "NOT USABLE";
  switch (r.verdict) {
    case AM_VERDICT_TRUSTED:
      head = nullptr;
      t += "result     trusted (failed = 0)\n";
      break;
    case AM_VERDICT_NOT_TRUSTED:
      head = "NOT TRUSTED";
      break;
    case AM_VERDICT_INCOMPLETE:
      head = "INCOMPLETE";
      break;
    case AM_VERDICT_QUESTIONABLE:
      head = "QUESTIONABLE";
      break;
    default:
      break;
  }
  if (head != nullptr) {
    t += std::string("result     ") + head + " (failed = " + number_text(r.failed, "%.0f") + "):\n";
    for (const std::string& text : verdict_texts(m)) {
      t += "  - " + text + "\n";
    }
  }
  if (r.drift_corrected != 0) {
    t += "           measured on the recording converted by its drift: not fixed to the last bit\n";
  }
  return t + judgement_table(m.limits);
}

std::string gain_json(const GainModel& m) {
  const am_gain_report& r = m.report;
  Json j;
  j.begin_object();
  j.key("schema").value("lumetra-measure/1");
  file_json(j, "reference", m.reference);
  file_json(j, "recording", m.recording);
  j.key("step_mode").value(r.step_mode);
  j.key("step_period_s").value(r.step_period_s);
  j.key("steps").begin_array();
  for (int k = 0; k < AM_STEPS; ++k) {
    j.begin_object();
    j.key("step").value(k + 1);
    j.key("start_sample").value(r.step_start[k]);
    j.key("samples").value(r.step_samples[k]);
    j.key("level_db").value(r.step_level[k]);
    j.key("spread_db").value(r.step_range[k]);
    j.key("reference_level_db").value(r.reference_step_level[k]);
    j.key("reference_spread_db").value(r.reference_step_range[k]);
    j.key("gain_db").value(r.gain[k]);
    j.key("coverage").value(r.coverage[k]);
    j.key("noise_distortion_db").value(r.noise_distortion_db[k]);
    j.key("dc_offset_db").value(r.dc_offset_db[k]);
    j.key("spread_excess_db").value(r.spread_excess_db[k]);
    j.key("clipped_samples").value(r.clipped_samples[k]);
    j.key("questionable").begin_array();
    for (const std::string& c : cause_names(r.step_questionable[k])) {
      j.value(c);
    }
    j.end_array();
    j.end_object();
  }
  j.end_array();
  j.key("peak_level_db").value(r.peak_level);
  j.key("failed").value(r.failed);
  j.key("causes").begin_array();
  for (const std::string& c : cause_names(r.causes)) {
    j.value(c);
  }
  j.end_array();
  j.key("alignment").begin_object();
  j.key("onset_frame_reference").value(r.onset_frame_reference);
  j.key("onset_frame_recording").value(r.onset_frame_recording);
  j.key("coarse_delay_samples").value(r.coarse_delay);
  j.key("coarse_delay_flag").value(r.coarse_delay_flag);
  j.key("peak_index").value(r.peak_index);
  j.key("peak_value").value(r.peak_value);
  j.key("trust_ratio").value(r.trust_ratio);
  j.key("trust_limit").value(AM_GAIN_TRUST_LIMIT);
  j.key("total_delay_samples").value(r.total_delay);
  j.key("total_delay_ms").value(r.total_delay_ms);
  j.key("aligned").value(am_enum_name(AM_ENUM_ALIGNED, r.aligned));
  j.key("aligned_samples").value(r.aligned_samples);
  j.end_object();
  j.key("verdict").value(am_verdict_name(r.verdict));
  j.key("verdict_causes").begin_array();
  for (const std::string& c : cause_names(r.verdict_causes)) {
    j.value(c);
  }
  j.end_array();
  j.key("uncovered_steps").begin_array();
  for (int k : steps_in(r.uncovered_steps)) {
    j.value(k);
  }
  j.end_array();
  non_finite_json(j, "non_finite_sample", m.non_finite);
  j.key("version").value(am_version());
  j.key("step_period_source").value(am_enum_name(AM_ENUM_PERIOD_SOURCE, r.step_period_source));
  j.key("step_period_check").begin_object();
  j.key("fitting_period_s");
  if (std::isnan(r.fitting_period_s)) {
    j.null();
  } else {
    j.value(r.fitting_period_s);
  }
  j.key("layouts").begin_array();
  for (int i = 0; i < 2; ++i) {
    j.begin_object();
    j.key("period_s").value(period_seconds(kLayouts[i]));
    j.key("held").value(r.layout_held[i] != 0);
    j.key("median_step_spread_db");
    if (r.layout_held[i] != 0) {
      j.value(r.median_step_spread_db[i]);
    } else {
      j.null();
    }
    j.end_object();
  }
  j.end_array();
  j.key("steady_limit_db").value(AM_PERIOD_STEADY_DB);
  j.key("unsteady_limit_db").value(AM_PERIOD_UNSTEADY_DB);
  j.key("guard_samples").value(AM_PERIOD_GUARD);
  j.end_object();
  j.key("step_period_warning");
  if (const std::string w = period_warning(m); w.empty()) {
    j.null();
  } else {
    j.value(w);
  }
  j.key("questionable_steps").begin_array();
  for (int k : steps_in(r.questionable_steps)) {
    j.value(k);
  }
  j.end_array();
  j.key("quality_limits").begin_object();
  j.key("max_noise_distortion_db").value(m.options.max_noise_distortion_db);
  j.key("max_spread_excess_db").value(m.options.max_spread_excess_db);
  j.key("max_clipped_samples").value(m.options.max_clipped_samples);
  j.end_object();
  j.key("drift_ppm");
  if (std::isnan(r.drift_ppm)) {
    j.null();
  } else {
    j.value(r.drift_ppm);
  }
  j.key("drift_corrected").value(r.drift_corrected != 0);
  judgement_json(j, m.limits);
  j.end_object();
  return j.str();
}

std::vector<std::string> gain_csv_header() {
  std::vector<std::string> h = {"path",          "exit_status", "verdict",      "causes",
                                "delay_samples", "trust_ratio", "peak_level_db"};
  for (int k = 1; k <= AM_STEPS; ++k) {
    h.push_back("level_db_" + std::to_string(k));
  }
  for (int k = 1; k <= AM_STEPS; ++k) {
    h.push_back("gain_db_" + std::to_string(k));
  }
  h.emplace_back("error");
  // Added after "error", so that the columns before keep their places.
  for (const char* figure : {"spread_db_", "coverage_", "noise_distortion_db_", "dc_offset_db_",
                             "spread_excess_db_", "clipped_samples_", "questionable_"}) {
    for (int k = 1; k <= AM_STEPS; ++k) {
      h.push_back(figure + std::to_string(k));
    }
  }
  h.emplace_back("drift_ppm");
  h.emplace_back("drift_corrected");
  h.emplace_back("limits");
  h.emplace_back("limits_failed");
  return h;
}

std::vector<std::string> gain_csv_fields(const GainModel& m) {
  const am_gain_report& r = m.report;
  std::vector<std::string> fields = {m.recording.path,           std::to_string(exit_status(m)),
                                     am_verdict_name(r.verdict), verdict_causes(r, ";"),
                                     shortest(r.total_delay),    shortest(r.trust_ratio),
                                     shortest(r.peak_level)};
  for (int k = 0; k < AM_STEPS; ++k) {
    fields.push_back(shortest(r.step_level[k]));
  }
  for (int k = 0; k < AM_STEPS; ++k) {
    fields.push_back(shortest(r.gain[k]));
  }
  fields.emplace_back();  // no error
  for (const double* figure :
       {r.step_range, r.coverage, r.noise_distortion_db, r.dc_offset_db, r.spread_excess_db}) {
    for (int k = 0; k < AM_STEPS; ++k) {
      fields.push_back(shortest(figure[k]));
    }
  }
  for (int k = 0; k < AM_STEPS; ++k) {
    fields.push_back(std::to_string(r.clipped_samples[k]));
  }
  for (int k = 0; k < AM_STEPS; ++k) {
    std::string names;
    for (const std::string& c : cause_names(r.step_questionable[k])) {
      names += (names.empty() ? "" : ";") + c;
    }
    fields.push_back(names);
  }
  fields.push_back(shortest(r.drift_ppm));
  fields.push_back(r.drift_corrected != 0 ? "1" : "0");
  for (std::string& f : judgement_csv(m.limits)) {
    fields.push_back(std::move(f));
  }
  return fields;
}

std::array<std::string, 3> gain_summary_figures(const GainModel& m) {
  return {number_text(m.report.total_delay, "%.0f"), number_text(m.report.trust_ratio, "%.6f"),
          number_text(m.report.peak_level)};
}

std::string gain_svg(const GainModel& m) {
  const am_gain_report& r = m.report;
  StepChart c;
  c.title = "lumetra-measure: step levels";
  c.notes.push_back("reference: " + m.reference.path);
  c.notes.push_back(
      "recording: " + m.recording.path +
      (m.recording.channels > 1 ? " (channel " + std::to_string(m.recording.channel) + ")" : ""));
  char b[200];
  std::snprintf(
      b, sizeof(b), "%d steps of %.1f s; total delay %s samples (%s ms); peak level %s dB",
      AM_STEPS, r.step_period_s, number_text(r.total_delay, "%.0f").c_str(),
      number_text(r.total_delay_ms, "%.3f").c_str(), number_text(r.peak_level, "%.2f").c_str());
  c.notes.push_back(b);
  c.trusted = r.verdict == AM_VERDICT_TRUSTED;
  if (c.trusted) {
    c.verdict = "trusted (failed = 0)";
    if (m.limits) {
      c.trusted = m.limits->outcome == AM_LIMITS_PASS;
      c.verdict += std::string("; limits: ") + am_enum_name(AM_ENUM_LIMITS, m.limits->outcome);
    }
  } else {
    c.verdict = std::string(am_verdict_name(r.verdict)) +
                " (failed = " + number_text(r.failed, "%.0f") + "):";
    for (const std::string& n : cause_names(r.verdict_causes)) {
      c.verdict += " " + n;
    }
    if (r.uncovered_steps != 0) {
      c.verdict += " (steps " + step_list(steps_in(r.uncovered_steps)) + ")";
    }
  }
  c.reference.name = "reference";
  c.recording.name = "recording";
  for (int k = 0; k < AM_STEPS; ++k) {
    c.reference.level[k] = r.reference_step_level[k];
    c.reference.spread[k] = r.reference_step_range[k];
    c.recording.level[k] = r.step_level[k];
    c.recording.spread[k] = r.step_range[k];
    c.gain[k] = r.gain[k];
    for (const std::string& n : cause_names(r.step_questionable[k])) {
      c.questionable[k] += (c.questionable[k].empty() ? "" : ", ") + n;
    }
  }
  // The gain limits as the recording's levels they allow.
  if (m.limits) {
    for (const LimitCheck& check : m.limits->checks) {
      if (check.check == AM_CHECK_GAIN) {
        const int k = check.step - 1;
        c.band_low[k] = r.reference_step_level[k] + check.min;
        c.band_high[k] = r.reference_step_level[k] + check.max;
        c.gain_failed[k] = !check.passed;
      }
    }
  }
  return step_chart_svg(c);
}

namespace {

// The failed checks of a judgement, in words.
std::vector<std::string> failed_checks(const std::optional<Judgement>& judged) {
  std::vector<std::string> out;
  if (judged) {
    for (const LimitCheck& c : judged->checks) {
      if (!c.passed) {
        out.push_back(check_text(c));
      }
    }
  }
  return out;
}

}  // namespace

std::string gain_junit(const GainModel& m) {
  const int status = exit_status(m);
  if (status == kExitReject) {
    return junit_testcase(
        kProgram, m.recording.path, status,
        "outside its limits (" + m.limits->file + "): " + judgement_csv(m.limits)[1],
        failed_checks(m.limits));
  }
  std::string message = std::string("not usable: ") + am_verdict_name(m.report.verdict);
  if (const std::string causes = verdict_causes(m.report, ", "); !causes.empty()) {
    message += " (" + causes + ")";
  }
  return junit_testcase(kProgram, m.recording.path, status, message, verdict_texts(m));
}

std::vector<std::string> gain_html_columns() {
  return {"verdict", "limits",   "gain dB", "noise+dist dB", "questionable steps",
          "delay",   "drift ppm"};
}

std::string gain_html_cells(const GainModel& m) {
  const am_gain_report& r = m.report;
  // The range of the gains, the worst noise and distortion: finite ones.
  double lo = INFINITY;
  double hi = -INFINITY;
  double worst = -INFINITY;
  for (int k = 0; k < AM_STEPS; ++k) {
    if (std::isfinite(r.gain[k])) {
      lo = std::min(lo, r.gain[k]);
      hi = std::max(hi, r.gain[k]);
    }
    if (std::isfinite(r.noise_distortion_db[k])) {
      worst = std::max(worst, r.noise_distortion_db[k]);
    }
  }
  const std::vector<int> questionable = steps_in(r.questionable_steps);
  return html_cell(am_verdict_name(r.verdict)) + html_cell(judgement_summary(m.limits)) +
         html_cell(lo <= hi ? printed("%+.2f to %+.2f", lo, hi) : "-", true) +
         html_cell(std::isfinite(worst) ? printed("%.1f", worst) : "-", true) +
         html_cell(questionable.empty() ? "-" : step_list(questionable)) +
         html_cell(number_text(r.total_delay, "%.0f"), true) +
         html_cell(std::isnan(r.drift_ppm) ? "-" : printed("%+.2f", r.drift_ppm), true);
}

std::string gain_html_section(const GainModel& m) {
  std::vector<std::string> reasons =
      m.report.verdict == AM_VERDICT_TRUSTED ? std::vector<std::string>{} : verdict_texts(m);
  for (const std::string& c : failed_checks(m.limits)) {
    reasons.push_back("outside its limits: " + c);
  }
  std::string h;
  if (!reasons.empty()) {
    h += "<ul>\n";
    for (const std::string& text : reasons) {
      h += "<li>" + xml_text(text) + "</li>\n";
    }
    h += "</ul>\n";
  }
  return h + inline_svg(gain_svg(m));
}

}  // namespace cli
