// The SVG chart of lumetra-measure --plot: the level of each of the 11
// steps, reference and recording side by side, each with a whisker for its
// spread of 50 ms block levels, and the gain of every step above it.
// The document is self-contained (no scripts, fonts or links) and opens in
// any browser.
#pragma once

#include <array>
#include <limits>
#include <string>
#include <vector>

#include "audiomeasure.h"

namespace cli {

inline constexpr int kChartSteps = AM_STEPS;

// Bounds of every step, none set.
constexpr std::array<double, kChartSteps> unbounded() {
  std::array<double, kChartSteps> a{};
  for (double& v : a) {
    v = std::numeric_limits<double>::quiet_NaN();
  }
  return a;
}

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
  // Why a step's reading is questionable, the causes' names
  // ("noise_distortion, clipping"); "" for a step that is not. Such a step's
  // slot is shaded and the names stand under its number.
  std::array<std::string, kChartSteps> questionable{};
  // The recording's levels its gain limits allow (the reference's level
  // plus the bounds), drawn as a band behind the recording's point; NaN: no
  // bound on that side (the band reaches the plot's edge), both NaN: no
  // band. gain_failed marks a gain outside them, whose label turns red.
  std::array<double, kChartSteps> band_low = unbounded();
  std::array<double, kChartSteps> band_high = unbounded();
  std::array<bool, kChartSteps> gain_failed{};
};

std::string step_chart_svg(const StepChart& chart);

// Text with &, <, >, " and ' as XML entities, control characters as '?'
// and bytes that are not UTF-8 as U+FFFD.
std::string xml_escaped(const std::string& text);

}  // namespace cli
