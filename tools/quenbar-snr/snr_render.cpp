#include "quenbar-snr/snr_render.h"

#include <cstdio>

#include "common/command_line.h"
#include "common/html_report.h"
#include "common/json.h"
#include "common/junit.h"

namespace cli {
namespace {

// The lag in milliseconds.
double lag_ms(const SnrModel& m) {
  return static_cast<double>(m.report.lag) * 1000.0 / static_cast<double>(m.gate.rate);
}

// Why the SNR cannot be used, or is outside its limits: "" for neither.
std::vector<std::string> snr_reasons(const SnrModel& m) {
  std::vector<std::string> out;
  switch (m.report.verdict) {
    case AM_VERDICT_FINITE:
      break;
    case AM_VERDICT_NON_FINITE_SAMPLES:
      out.push_back(non_finite_text(*m.non_finite));
      break;
    default:
      out.push_back(am_enum_text(AM_ENUM_SNR_REASON, m.report.reason));
      break;
  }
  if (m.limits) {
    for (const LimitCheck& c : m.limits->checks) {
      if (!c.passed) {
        out.push_back("outside its limits: " + check_text(c));
      }
    }
  }
  return out;
}

}  // namespace

std::string lag_warning(const SnrModel& m) {
  if (m.report.lag == 0 || m.report.aligned != 0) {
    return "";
  }
  return printed(
      "warning: %s lags %s by %lld samples (%.3f ms): their frames are not aligned, which lowers "
      "the SNR; --align shifts it by the lag%s",
      m.measured.path.c_str(), m.gate.path.c_str(), static_cast<long long>(m.report.lag), lag_ms(m),
      m.report.lag_reliable != 0 ? "" : " (which does not stand out: --align would refuse it)");
}

std::string snr_table(const SnrModel& m) {
  const am_snr_report& r = m.report;
  std::string t;
  t += "gate      " + describe_file(m.gate) + "\n";
  t += "measured  " + describe_file(m.measured) + "\n\n";
  t += "SNR             " + number_text(r.snr_db) + " dB\n";
  const auto len = static_cast<long long>(r.frame_length);
  const auto frames = static_cast<long long>(r.frame_count);
  t += printed(
      "frames          %lld of %lld samples (5 ms at %d Hz); %lld gate samples after the last "
      "whole frame ignored\n",
      frames, len, m.gate.rate, static_cast<long long>(r.gate_samples) - frames * len);
  t +=
      printed("active frames   %s of %lld (activity factor %s): smoothed gate level above -70 dB\n",
              number_text(r.active_frames, "%.0f").c_str(), frames,
              number_text(r.activity_factor, "%.4f").c_str());
  t += "noise power     " + number_text(r.noise_power_db) +
       " dB re 32767^2: the measured signal's mean power in the inactive frames\n";
  t += "signal power    " + number_text(r.signal_power_db) +
       " dB re 32767^2: its mean power in the active frames, less the noise power\n";
  t += printed("lag             %lld samples (%.3f ms) of measured behind gate",
               static_cast<long long>(r.lag), lag_ms(m));
  if (r.aligned != 0) {
    t += printed("; aligned by it (--align): gate from sample %lld, measured from sample %lld\n\n",
                 static_cast<long long>(r.gate_first), static_cast<long long>(r.measured_first));
  } else if (r.lag != 0) {
    t += "; NOT corrected (--align shifts it)\n";
  } else {
    t += "\n";
  }
  t += printed(
      "lag search      first %lld samples of each, lags up to %lld either way; peak %s times its "
      "largest rival (%s: at least %g)\n\n",
      static_cast<long long>(r.lag_window), static_cast<long long>(r.lag_max),
      number_text(r.lag_prominence, "%.2f").c_str(),
      r.lag_reliable != 0 ? "reliable" : "NOT reliable", AM_SNR_LAG_PROMINENCE);
  switch (r.verdict) {
    case AM_VERDICT_NON_FINITE_SAMPLES:
      t += "result          NOT USABLE: " + non_finite_text(*m.non_finite) + "\n";
      break;
    case AM_VERDICT_FINITE:
      t += "result          finite\n";
      break;
    default:
      t += "result          " + number_text(r.snr_db) + ": " +
           am_enum_text(AM_ENUM_SNR_REASON, r.reason) + "\n";
      break;
  }
  return t + judgement_table(m.limits);
}

std::string snr_json(const SnrModel& m) {
  const am_snr_report& r = m.report;
  Json j;
  j.begin_object();
  j.key("schema").value("quenbar-snr/1");
  file_json(j, "gate", m.gate);
  file_json(j, "measured", m.measured);
  j.key("rate_hz").value(m.gate.rate);
  j.key("snr_db").value(r.snr_db);
  j.key("reason").value(am_enum_name(AM_ENUM_SNR_REASON, r.reason));
  j.key("diagnostics").begin_object();
  j.key("frame_length").value(r.frame_length);
  j.key("frame_count").value(r.frame_count);
  j.key("active_frames").value(r.active_frames);
  j.key("activity_factor").value(r.activity_factor);
  j.key("active_power_sum").value(r.active_power_sum);
  j.key("inactive_power_sum").value(r.inactive_power_sum);
  j.key("noise_power").value(r.noise_power);
  j.key("signal_power").value(r.signal_power);
  j.key("noise_power_db").value(r.noise_power_db);
  j.key("signal_power_db").value(r.signal_power_db);
  j.end_object();
  j.key("verdict").value(am_verdict_name(r.verdict));
  non_finite_json(j, "non_finite_sample", m.non_finite);
  j.key("lag").begin_object();
  j.key("samples").value(r.lag);
  j.key("ms").value(lag_ms(m));
  j.key("window_samples").value(r.lag_window);
  j.key("max_lag_samples").value(r.lag_max);
  j.key("aligned").value(r.aligned != 0);
  j.key("gate_first_sample").value(r.gate_first);
  j.key("measured_first_sample").value(r.measured_first);
  j.key("prominence").value(r.lag_prominence);
  j.key("reliable").value(r.lag_reliable != 0);
  j.end_object();
  j.key("version").value(am_version());
  judgement_json(j, m.limits);
  j.end_object();
  return j.str();
}

std::vector<std::string> snr_csv_header() {
  // Columns after "error" were added later, so that the earlier ones keep
  // their places.
  return {"path",   "exit_status",     "verdict",        "snr_db",
          "reason", "activity_factor", "noise_power",    "signal_power",
          "error",  "lag_samples",     "lag_prominence", "lag_reliable",
          "limits", "limits_failed"};
}

std::vector<std::string> snr_csv_fields(const SnrModel& m) {
  const am_snr_report& r = m.report;
  return {m.measured.path,
          std::to_string(exit_status(m)),
          am_verdict_name(r.verdict),
          shortest(r.snr_db),
          am_enum_name(AM_ENUM_SNR_REASON, r.reason),
          shortest(r.activity_factor),
          shortest(r.noise_power),
          shortest(r.signal_power),
          "",
          std::to_string(r.lag),
          shortest(r.lag_prominence),
          r.lag_reliable != 0 ? "1" : "0",
          judgement_csv(m.limits)[0],
          judgement_csv(m.limits)[1]};
}

std::array<std::string, 3> snr_summary_figures(const SnrModel& m) {
  return {number_text(m.report.snr_db), number_text(m.report.activity_factor, "%.4f"),
          std::to_string(m.report.lag)};
}

std::string snr_junit(const SnrModel& m) {
  const int status = exit_status(m);
  const std::string message =
      status == kExitReject
          ? "outside its limits (" + m.limits->file + "): " + judgement_csv(m.limits)[1]
          : std::string("not usable: ") + am_verdict_name(m.report.verdict) + " (" +
                am_enum_name(AM_ENUM_SNR_REASON, m.report.reason) + ")";
  return junit_testcase("quenbar-snr", m.measured.path, status, message, snr_reasons(m));
}

std::vector<std::string> snr_html_columns() {
  return {"verdict", "limits", "SNR dB", "activity", "lag", "lag reliable", "why"};
}

std::string snr_html_cells(const SnrModel& m) {
  const am_snr_report& r = m.report;
  std::string why;
  for (const std::string& reason : snr_reasons(m)) {
    why += (why.empty() ? "" : "; ") + reason;
  }
  return html_cell(am_verdict_name(r.verdict)) + html_cell(judgement_summary(m.limits)) +
         html_cell(number_text(r.snr_db), true) +
         html_cell(number_text(r.activity_factor, "%.4f"), true) +
         html_cell(std::to_string(r.lag), true) + html_cell(r.lag_reliable != 0 ? "yes" : "no") +
         html_cell(why);
}

}  // namespace cli
