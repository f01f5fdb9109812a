// A device's limits (--limits FILE): read from a TOML file into the
// library's limit structs, and the judgement of a measurement against them
// as the reports give it, check by check.
//
// The file (every table and key optional; bounds are inclusive):
//
//   [gain]                          # lumetra-measure, every step
//   min_db = -4.0                   # gain: recording level minus reference level, dB
//   max_db = 4.0
//   max_spread_db = 1.5             # spread of the 50 ms block levels, dB
//   max_noise_distortion_db = -30.0 # noise and distortion re the step's level, dB
//   max_clipped_samples = 0         # samples at or beyond full scale
//   max_delay_samples = 24000       # |delay| of the recording, samples
//   max_drift_ppm = 50.0            # |clock drift|, ppm
//   [gain.step.9]                   # step 9 (1 to 11): its own per-step bounds
//   max_db = 3.0
//   [snr]                           # quenbar-snr
//   min_db = 15.0
//   max_db = 60.0
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "audiomeasure.h"
#include "common/json.h"

namespace cli {

// The limits a file gives, each tool's table when it has one.
struct Limits {
  std::string path;  // as given
  std::optional<am_gain_limits> gain;
  std::optional<am_snr_limits> snr;
};

// Reads and checks the file. Throws UsageError, "PATH:LINE: what is wrong",
// for a file that cannot be read, TOML that does not parse, an unknown
// table or key, a value of the wrong type or out of range (not finite, a
// negative maximum of a size), a step number outside 1 to 11, and a
// minimum above its maximum (for a step, after its overrides).
Limits read_limits(const std::string& path);

// One check of a judgement: a figure against its bounds.
struct LimitCheck {
  int check = AM_CHECK_GAIN;  // AM_CHECK_*
  int step = 0;               // 1 to 11 for the per-step checks, 0 for the others
  double value = 0.0;         // the figure compared (for the delay and the drift, their size)
  double min = 0.0;           // NaN: no bound
  double max = 0.0;
  bool passed = true;
};

// A measurement judged against its limits: the library's outcome, and
// every bound it has, in the order of the checks and steps.
struct Judgement {
  std::string file;  // the limits file
  int outcome = AM_LIMITS_PASS;
  std::vector<LimitCheck> checks;
};

// The checks of a judgement: for each check (AM_CHECK_*) and step (0 for a
// whole-measurement check) with a bound, its figure, bounds and outcome
// from the library's judgement (a step's failed bits).
struct CheckFigure {
  int check;
  int step;
  double value;
  double min;
  double max;
};
Judgement judgement(const std::string& file, const am_judgement& judged,
                    const std::vector<CheckFigure>& figures);

// The document's "limits" field: null, or {"verdict", "checks": [{"check",
// "step", "value", "min", "max", "outcome"}, ...]}.
void judgement_json(Json& j, const std::optional<Judgement>& judged);

// The CSV fields "limits" ("pass", "fail", or "" without limits) and
// "limits_failed" (the failed checks, "gain@9;delay").
std::vector<std::string> judgement_csv(const std::optional<Judgement>& judged);

// The table's lines: "limits     pass (FILE): all N checks" or "limits
// FAIL (FILE): ..." with a line per failed check; "" without limits.
std::string judgement_table(const std::optional<Judgement>& judged);

// The outcome with the failed checks grouped by check, for a narrow
// column: "fail: gain of steps 1, 9; delay"; "pass"; "-" without limits.
std::string judgement_summary(const std::optional<Judgement>& judged);

// One failed check in words: "gain of step 9: +3.501 dB, above its maximum
// +3.000 dB".
std::string check_text(const LimitCheck& c);

}  // namespace cli
