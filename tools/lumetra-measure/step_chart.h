// The SVG chart of lumetra-measure --plot: the level of each of the 11
// steps, reference and recording side by side, each with a whisker for its
// spread of 50 ms block levels, and the gain of every step above it.
// The document is self-contained (no scripts, fonts or links) and opens in
// any browser.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "audiomeasure.h"

namespace cli {

inline constexpr int kChartSteps = AM_STEPS;

struct ChartSeries {
  std::string name;                          // legend text
  std::array<double, kChartSteps> level{};   // dB; non-finite: its value is written
  std::array<double, kChartSteps> spread{};  // dB, highest minus lowest block level
};

struct StepChart {
  std::string title;
  std::vector<std::string> notes;  // lines under the title
  std::string verdict;             // last line under the title
  bool trusted = true;             // the verdict's colour
  ChartSeries reference;
  ChartSeries recording;
  std::array<double, kChartSteps> gain{};  // dB, recording minus reference
};

std::string step_chart_svg(const StepChart& chart);

// Text with &, <, >, " and ' as XML entities.
std::string xml_escaped(const std::string& text);

}  // namespace cli
