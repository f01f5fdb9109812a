#include "lumetra-measure/step_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "common/utf8.h"

namespace cli {
namespace {

// Canvas and plot area, in SVG user units (pixels).
constexpr double kWidth = 960.0;
constexpr double kHeight = 650.0;
constexpr double kLeft = 90.0;
constexpr double kRight = 930.0;
constexpr double kTop = 150.0;
constexpr double kBottom = 520.0;
constexpr double kSlot = (kRight - kLeft) / kChartSteps;  // one step's width
constexpr double kOffset = 14.0;  // series to either side of the slot centre

constexpr const char* kReferenceColour = "#4477aa";
constexpr const char* kRecordingColour = "#cc6677";
constexpr const char* kTrustedColour = "#227733";
constexpr const char* kFailedColour = "#bb2222";
constexpr const char* kQuestionableShade = "#fbe3b4";   // a questionable step's slot
constexpr const char* kQuestionableColour = "#9a5b00";  // its words
constexpr const char* kBandColour = "#2f8f4f";          // the gain limits' band

std::string fmt(const char* format, double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof(buffer), format, v);
  return buffer;
}

// Whether a spread is drawn: a finite spread of at least 0 (-120 means the
// step had no whole block).
bool drawn_spread(double s) {
  return std::isfinite(s) && s >= 0.0;
}

struct Axis {
  double lo;
  double hi;
  double step;
  double y(double db) const { return kBottom - (db - lo) / (hi - lo) * (kBottom - kTop); }
};

// Range of the finite levels and whisker ends, widened to whole ticks of a
// step that gives at most 12 of them.
Axis make_axis(const StepChart& c) {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -lo;
  for (const ChartSeries* s : {&c.reference, &c.recording}) {
    for (int k = 0; k < kChartSteps; ++k) {
      if (!std::isfinite(s->level[k])) {
        continue;
      }
      const double half = drawn_spread(s->spread[k]) ? s->spread[k] / 2.0 : 0.0;
      lo = std::min(lo, s->level[k] - half);
      hi = std::max(hi, s->level[k] + half);
    }
  }
  // The limits' bands are drawn whole where they are bounded.
  for (int k = 0; k < kChartSteps; ++k) {
    for (double v : {c.band_low[k], c.band_high[k]}) {
      if (std::isfinite(v)) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
    }
  }
  if (!(lo <= hi)) {
    lo = -60.0;
    hi = 0.0;
  }
  // Room above the highest point for the gain labels.
  hi += std::max(1.0, (hi - lo) * 0.08);
  lo -= std::max(1.0, (hi - lo) * 0.04);
  for (double step : {1.0, 2.0, 3.0, 5.0, 6.0, 10.0, 20.0, 30.0, 50.0, 100.0, 200.0, 500.0}) {
    const double a = std::floor(lo / step) * step;
    const double b = std::ceil(hi / step) * step;
    if ((b - a) / step <= 12.0 || step == 500.0) {
      return {a, b, step};
    }
  }
  return {lo, hi, hi - lo};
}

void line(std::string& svg, double x1, double y1, double x2, double y2, const char* stroke,
          double width) {
  char buffer[200];
  std::snprintf(buffer, sizeof(buffer),
                "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" "
                "stroke-width=\"%.1f\"/>\n",
                x1, y1, x2, y2, stroke, width);
  svg += buffer;
}

void text(std::string& svg, double x, double y, const std::string& content, const char* anchor,
          double size, const char* colour = "#222222", const std::string& extra = "") {
  char buffer[200];
  std::snprintf(buffer, sizeof(buffer),
                "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"%s\" font-size=\"%.0f\" fill=\"%s\"", x,
                y, anchor, size, colour);
  svg += buffer;
  svg += extra;
  svg += '>';
  svg += xml_escaped(content);
  svg += "</text>\n";
}

// One series' marker and whisker in step k; circles for the reference,
// squares for the recording.
void point(std::string& svg, const Axis& axis, double x, double level, double spread,
           const char* colour, bool square) {
  if (!std::isfinite(level)) {
    // A level that is NaN or infinite has no place on the axis: its value
    // stands at the foot of the slot instead.
    const char* what = std::isnan(level) ? "NaN" : level < 0.0 ? "-Inf" : "+Inf";
    text(svg, x, kBottom - 8.0, what, "middle", 10, colour);
    return;
  }
  const double y = axis.y(level);
  if (drawn_spread(spread)) {
    const double top = axis.y(level + spread / 2.0);
    const double bottom = axis.y(level - spread / 2.0);
    line(svg, x, top, x, bottom, colour, 1.5);
    line(svg, x - 5.0, top, x + 5.0, top, colour, 1.5);
    line(svg, x - 5.0, bottom, x + 5.0, bottom, colour, 1.5);
  }
  char buffer[200];
  if (square) {
    std::snprintf(buffer, sizeof(buffer),
                  "<rect x=\"%.1f\" y=\"%.1f\" width=\"9\" height=\"9\" fill=\"%s\"/>\n", x - 4.5,
                  y - 4.5, colour);
  } else {
    std::snprintf(buffer, sizeof(buffer), "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"5\" fill=\"%s\"/>\n",
                  x, y, colour);
  }
  svg += buffer;
}

}  // namespace

std::string xml_escaped(const std::string& text) {
  std::string out;
  // An XML document is UTF-8 throughout: a path's other bytes become U+FFFD.
  for (const char c : valid_utf8(text)) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // Control characters are not allowed in XML 1.0 text.
        out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
  }
  return out;
}

std::string step_chart_svg(const StepChart& c) {
  const Axis axis = make_axis(c);
  std::string svg;
  svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + fmt("%.0f", kWidth) +
         "\" height=\"" + fmt("%.0f", kHeight) + "\" viewBox=\"0 0 " + fmt("%.0f", kWidth) + " " +
         fmt("%.0f", kHeight) + "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\">\n";
  svg += "<title>" + xml_escaped(c.title) + "</title>\n";
  svg += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";

  // Title, notes and verdict.
  text(svg, kLeft, 30.0, c.title, "start", 18, "#111111", " font-weight=\"bold\"");
  double y = 52.0;
  for (const std::string& note : c.notes) {
    text(svg, kLeft, y, note, "start", 12, "#333333");
    y += 17.0;
  }
  text(svg, kLeft, y, c.verdict, "start", 13, c.trusted ? kTrustedColour : kFailedColour,
       " font-weight=\"bold\"");

  // Questionable steps' slots, shaded behind everything else.
  for (int k = 0; k < kChartSteps; ++k) {
    if (!c.questionable[k].empty()) {
      svg += "<rect x=\"" + fmt("%.1f", kLeft + kSlot * k) + "\" y=\"" + fmt("%.1f", kTop) +
             "\" width=\"" + fmt("%.1f", kSlot) + "\" height=\"" + fmt("%.1f", kBottom - kTop) +
             "\" fill=\"" + kQuestionableShade + "\"/>\n";
    }
  }

  // Grid, tick labels and axis titles.
  for (double v = axis.lo; v <= axis.hi + axis.step / 2.0; v += axis.step) {
    const double gy = axis.y(v);
    line(svg, kLeft, gy, kRight, gy, "#dddddd", 1.0);
    text(svg, kLeft - 8.0, gy + 4.0, fmt("%.0f", v), "end", 12);
  }
  line(svg, kLeft, kTop, kLeft, kBottom, "#555555", 1.0);
  line(svg, kLeft, kBottom, kRight, kBottom, "#555555", 1.0);
  const double mid = (kTop + kBottom) / 2.0;
  text(svg, 24.0, mid, "step level, dB re full scale (32767)", "middle", 13, "#222222",
       " transform=\"rotate(-90 24 " + fmt("%.1f", mid) + ")\"");
  text(svg, (kLeft + kRight) / 2.0, kBottom + 68.0, "step", "middle", 13);

  bool any_band = false;
  bool any_questionable = false;
  for (int k = 0; k < kChartSteps; ++k) {
    const double centre = kLeft + kSlot * (k + 0.5);
    if (k > 0) {
      line(svg, kLeft + kSlot * k, kBottom, kLeft + kSlot * k, kBottom + 5.0, "#555555", 1.0);
    }
    text(svg, centre, kBottom + 18.0, std::to_string(k + 1), "middle", 12);
    // The words of a questionable step under its number, one a line (a
    // name's parts too: the slot is narrow), three lines at most.
    const std::string& words = c.questionable[k];
    double wy = kBottom + 31.0;
    for (std::size_t at = 0; at < words.size() && wy < kBottom + 60.0; wy += 11.0) {
      const std::size_t end = std::min(words.find_first_of(" _,", at), words.size());
      text(svg, centre, wy, words.substr(at, end - at), "middle", 10, kQuestionableColour);
      at = words.find_first_not_of(" _,", end);
    }
    any_questionable = any_questionable || !c.questionable[k].empty();
    // The band of levels the gain limits allow, behind the recording's point.
    if (!std::isnan(c.band_low[k]) || !std::isnan(c.band_high[k])) {
      any_band = true;
      const double top = std::isnan(c.band_high[k]) ? kTop : std::max(kTop, axis.y(c.band_high[k]));
      const double bottom =
          std::isnan(c.band_low[k]) ? kBottom : std::min(kBottom, axis.y(c.band_low[k]));
      svg += "<rect x=\"" + fmt("%.1f", centre + kOffset - 12.0) + "\" y=\"" + fmt("%.1f", top) +
             "\" width=\"24\" height=\"" + fmt("%.1f", std::max(bottom - top, 1.0)) + "\" fill=\"" +
             kBandColour + "\" fill-opacity=\"0.18\" stroke=\"" + kBandColour +
             "\" stroke-dasharray=\"3 2\"/>\n";
    }
    point(svg, axis, centre - kOffset, c.reference.level[k], c.reference.spread[k],
          kReferenceColour, false);
    point(svg, axis, centre + kOffset, c.recording.level[k], c.recording.spread[k],
          kRecordingColour, true);
    const std::string gain = std::isfinite(c.gain[k]) ? fmt("%+.2f", c.gain[k]) : "n/a";
    text(svg, centre, kTop + 14.0, gain, "middle", 11, c.gain_failed[k] ? kFailedColour : "#222222",
         c.gain_failed[k] ? " font-weight=\"bold\"" : "");
  }
  text(svg, kLeft + 4.0, kTop - 6.0, "gain, dB (recording minus reference):", "start", 11,
       "#555555");

  // Legend under the axis.
  const double ly = kBottom + 92.0;
  svg += "<circle cx=\"" + fmt("%.1f", kLeft + 6.0) + "\" cy=\"" + fmt("%.1f", ly - 4.0) +
         "\" r=\"5\" fill=\"" + kReferenceColour + "\"/>\n";
  text(svg, kLeft + 16.0, ly, c.reference.name, "start", 12);
  svg += "<rect x=\"" + fmt("%.1f", kLeft + 226.0) + "\" y=\"" + fmt("%.1f", ly - 8.5) +
         "\" width=\"9\" height=\"9\" fill=\"" + kRecordingColour + "\"/>\n";
  text(svg, kLeft + 240.0, ly, c.recording.name, "start", 12);
  text(svg, kLeft + 450.0, ly, "whisker: spread of the 50 ms block levels", "start", 12);
  text(svg, kLeft + 450.0, ly + 17.0, "(highest minus lowest), centred on the step level", "start",
       12, "#555555");
  if (any_band) {
    svg += std::string("<rect x=\"") + fmt("%.1f", kLeft + 1.0) + "\" y=\"" +
           fmt("%.1f", ly + 7.0) + "\" width=\"11\" height=\"12\" fill=\"" + kBandColour +
           "\" fill-opacity=\"0.18\" stroke=\"" + kBandColour + "\" stroke-dasharray=\"3 2\"/>\n";
    text(svg, kLeft + 16.0, ly + 17.0, "levels the gain limits allow", "start", 12);
  }
  if (any_questionable) {
    svg += std::string("<rect x=\"") + fmt("%.1f", kLeft + 226.0) + "\" y=\"" +
           fmt("%.1f", ly + 7.0) + "\" width=\"11\" height=\"12\" fill=\"" + kQuestionableShade +
           "\"/>\n";
    text(svg, kLeft + 240.0, ly + 17.0, "questionable step", "start", 12, kQuestionableColour);
  }
  svg += "</svg>\n";
  return svg;
}

}  // namespace cli
