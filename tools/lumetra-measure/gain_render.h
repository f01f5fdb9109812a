// lumetra-measure's outputs, each a function of the model alone: the table,
// the --json document, a batch's CSV row and summary row, the --plot chart,
// and the warning about the step period.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "lumetra-measure/gain_measure.h"

namespace cli {

// The readable report: files, the 11 steps, the peak level, the alignment
// diagnostics and the verdict with every cause behind it.
std::string gain_table(const GainModel& m);

// The --json document (schema "lumetra-measure/1", docs/json.md).
std::string gain_json(const GainModel& m);

// A batch's CSV header, and a measured recording's row of it.
std::vector<std::string> gain_csv_header();
std::vector<std::string> gain_csv_fields(const GainModel& m);

// The figures of a batch's summary row: delay, trust ratio, peak level.
std::array<std::string, 3> gain_summary_figures(const GainModel& m);

// The --plot chart.
std::string gain_svg(const GainModel& m);

// The recording's JUnit test case (--junit): the checks outside its limits
// (reject), or why its measurement cannot be used (retest).
std::string gain_junit(const GainModel& m);

// Its row of the batch report (--report), after the status and the file:
// the cells under gain_html_columns(); and its section: why it is not
// usable or outside its limits, and the step chart.
std::vector<std::string> gain_html_columns();
std::string gain_html_cells(const GainModel& m);
std::string gain_html_section(const GainModel& m);

// Why the step period measured may be wrong (the reference fits neither
// period clearly, or the other one than given), with the figures behind
// it; "" when it agrees.
std::string period_warning(const GainModel& m);

// The names of the causes set in `causes` (bits 1u << AM_CAUSE_*), in
// order.
std::vector<std::string> cause_names(std::uint32_t causes);

// One line for each of lumetra's failure causes in the report: the
// library's sentence and the figures of this measurement.
std::vector<std::string> cause_texts(const am_gain_report& r);

}  // namespace cli
