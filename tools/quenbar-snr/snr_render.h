// quenbar-snr's outputs, each a function of the model alone: the table, the
// --json document, a batch's CSV row and summary row, and the warning about
// a lag that was not corrected.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "quenbar-snr/snr_measure.h"

namespace cli {

// The readable report: files, the SNR, the frames behind it, the lag and
// the verdict with its reason.
std::string snr_table(const SnrModel& m);

// The --json document (schema "quenbar-snr/1", docs/json.md).
std::string snr_json(const SnrModel& m);

// A batch's CSV header, and a measured file's row of it.
std::vector<std::string> snr_csv_header();
std::vector<std::string> snr_csv_fields(const SnrModel& m);

// The figures of a batch's summary row: SNR, activity factor, lag.
std::array<std::string, 3> snr_summary_figures(const SnrModel& m);

// The warning for a lag that was not corrected, or "" when there is none.
std::string lag_warning(const SnrModel& m);

// The measured file's JUnit test case (--junit): the SNR outside its limits
// (reject), or why it cannot be used (retest).
std::string snr_junit(const SnrModel& m);

// Its row of the batch report (--report), after the status and the file:
// the cells under snr_html_columns().
std::vector<std::string> snr_html_columns();
std::string snr_html_cells(const SnrModel& m);

}  // namespace cli
