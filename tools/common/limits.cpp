#include "common/limits.h"

#include <toml++/toml.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "common/command_line.h"
#include "common/platform.h"
#include "common/report_text.h"

namespace cli {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// What a key's value may be.
enum class Kind {
  kNumber,  // any finite number
  kSize,    // a finite number of at least 0: the maximum of a size
  kCount,   // a whole number of at least 0
};

// The per-step bounds, in the order of their fields below.
enum StepBound { kGainMin, kGainMax, kSpreadMax, kNoiseDistortionMax, kClippedMax, kStepBounds };
struct KeyDecl {
  const char* name;
  Kind kind;
};
constexpr KeyDecl kStepKeys[kStepBounds] = {
    {"min_db", Kind::kNumber},
    {"max_db", Kind::kNumber},
    {"max_spread_db", Kind::kSize},
    {"max_noise_distortion_db", Kind::kNumber},
    {"max_clipped_samples", Kind::kCount},
};
// The bounds of the whole recording, [gain] only.
enum WholeBound { kDelayMax, kDriftMax, kWholeBounds };
constexpr KeyDecl kWholeKeys[kWholeBounds] = {
    {"max_delay_samples", Kind::kSize},
    {"max_drift_ppm", Kind::kSize},
};
constexpr KeyDecl kSnrKeys[2] = {{"min_db", Kind::kNumber}, {"max_db", Kind::kNumber}};

// A bound and the line that set it (0: not set).
struct Bound {
  double value = kNaN;
  int line = 0;
};

class Reader {
 public:
  explicit Reader(const std::string& path) : path_(path) {}

  [[noreturn]] void refuse(int line, const std::string& what) const {
    throw UsageError(path_ + ":" + std::to_string(line) + ": " + what);
  }

  static int line_of(const toml::key& k) { return static_cast<int>(k.source().begin.line); }

  // The value of `key` as `kind` wants it.
  Bound number(const toml::key& key, const toml::node& node, Kind kind) const {
    const int line = line_of(key);
    double v = 0.0;
    if (node.is_integer()) {
      v = static_cast<double>(node.as_integer()->get());
    } else if (node.is_floating_point() && kind != Kind::kCount) {
      v = node.as_floating_point()->get();
    } else {
      refuse(line, std::string(key.str()) + " takes " +
                       (kind == Kind::kCount ? "a whole number" : "a number") + ", not " +
                       type_name(node));
    }
    if (!std::isfinite(v)) {
      refuse(line, std::string(key.str()) + " takes a finite number");
    }
    if (kind != Kind::kNumber && v < 0.0) {
      refuse(line, std::string(key.str()) + " is the largest size allowed: at least 0, not " +
                       shortest(v));
    }
    return {v, line};
  }

  // A minimum above its maximum, named at the later of their lines.
  void check_order(const Bound& lo, const Bound& hi, const std::string& where) const {
    if (!std::isnan(lo.value) && !std::isnan(hi.value) && lo.value > hi.value) {
      refuse(std::max(lo.line, hi.line),
             where + "min_db " + shortest(lo.value) + " is above max_db " + shortest(hi.value));
    }
  }

 private:
  static std::string type_name(const toml::node& node) {
    switch (node.type()) {
      case toml::node_type::string:
        return "a string";
      case toml::node_type::boolean:
        return "a boolean";
      case toml::node_type::floating_point:
        return "a fraction";
      case toml::node_type::array:
        return "an array";
      case toml::node_type::table:
        return "a table";
      default:
        return "a date or time";
    }
  }

  std::string path_;
};

// "9" for step 9: 1 to 11, written plainly; 0 for anything else.
int step_number(std::string_view key) {
  if (key.empty() || key.size() > 2 || key[0] == '0' ||
      key.find_first_not_of("0123456789") != std::string_view::npos) {
    return 0;
  }
  const int n = std::stoi(std::string(key));
  return n <= AM_STEPS ? n : 0;
}

template <std::size_t N>
int key_index(const KeyDecl (&keys)[N], std::string_view name) {
  for (std::size_t i = 0; i < N; ++i) {
    if (name == keys[i].name) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

template <std::size_t N>
std::string key_names(const KeyDecl (&keys)[N]) {
  std::string s;
  for (const KeyDecl& k : keys) {
    s += (s.empty() ? "" : ", ") + std::string(k.name);
  }
  return s;
}

am_gain_limits read_gain(const Reader& reader, const toml::table& gain) {
  Bound every[kStepBounds];
  Bound steps[AM_STEPS][kStepBounds];
  Bound whole[kWholeBounds];
  for (auto&& [key, node] : gain) {
    const int line = Reader::line_of(key);
    if (const int i = key_index(kStepKeys, key.str()); i >= 0) {
      every[i] = reader.number(key, node, kStepKeys[i].kind);
    } else if (const int w = key_index(kWholeKeys, key.str()); w >= 0) {
      whole[w] = reader.number(key, node, kWholeKeys[w].kind);
    } else if (key.str() == "step" && node.is_table()) {
      for (auto&& [number, table] : *node.as_table()) {
        const int step = step_number(number.str());
        if (step == 0) {
          reader.refuse(Reader::line_of(number), "[gain.step." + std::string(number.str()) +
                                                     "]: a step number is 1 to " +
                                                     std::to_string(AM_STEPS));
        }
        if (!table.is_table()) {
          reader.refuse(Reader::line_of(number), "gain.step." + std::string(number.str()) +
                                                     " is a table of the step's bounds");
        }
        for (auto&& [step_key, value] : *table.as_table()) {
          const int b = key_index(kStepKeys, step_key.str());
          if (b < 0) {
            reader.refuse(Reader::line_of(step_key),
                          "unknown key '" + std::string(step_key.str()) + "' in [gain.step." +
                              std::to_string(step) + "] (a step's keys: " + key_names(kStepKeys) +
                              ")");
          }
          steps[step - 1][b] = reader.number(step_key, value, kStepKeys[b].kind);
        }
      }
    } else {
      reader.refuse(line, "unknown key '" + std::string(key.str()) +
                              "' in [gain] (its keys: " + key_names(kStepKeys) + ", " +
                              key_names(kWholeKeys) + "; [gain.step.N] for step N)");
    }
  }
  reader.check_order(every[kGainMin], every[kGainMax], "");
  am_gain_limits l;
  am_gain_limits_init(&l);
  for (int k = 0; k < AM_STEPS; ++k) {
    Bound b[kStepBounds];
    for (int i = 0; i < kStepBounds; ++i) {
      b[i] = steps[k][i].line != 0 ? steps[k][i] : every[i];
    }
    reader.check_order(b[kGainMin], b[kGainMax], "step " + std::to_string(k + 1) + ": ");
    l.gain_min_db[k] = b[kGainMin].value;
    l.gain_max_db[k] = b[kGainMax].value;
    l.spread_max_db[k] = b[kSpreadMax].value;
    l.noise_distortion_max_db[k] = b[kNoiseDistortionMax].value;
    l.clipped_max[k] = b[kClippedMax].value;
  }
  l.delay_max_samples = whole[kDelayMax].value;
  l.drift_max_ppm = whole[kDriftMax].value;
  return l;
}

am_snr_limits read_snr(const Reader& reader, const toml::table& snr) {
  Bound b[2];
  for (auto&& [key, node] : snr) {
    const int i = key_index(kSnrKeys, key.str());
    if (i < 0) {
      reader.refuse(Reader::line_of(key), "unknown key '" + std::string(key.str()) +
                                              "' in [snr] (its keys: " + key_names(kSnrKeys) + ")");
    }
    b[i] = reader.number(key, node, kSnrKeys[i].kind);
  }
  reader.check_order(b[0], b[1], "");
  am_snr_limits l;
  am_snr_limits_init(&l);
  l.snr_min_db = b[0].value;
  l.snr_max_db = b[1].value;
  return l;
}

// How a check's figure reads: its format and unit.
struct CheckFormat {
  const char* format;
  const char* unit;
};
CheckFormat check_format(int check) {
  switch (check) {
    case AM_CHECK_GAIN:
      return {"%+.3f", "dB"};
    case AM_CHECK_CLIPPED:
    case AM_CHECK_DELAY:
      return {"%.0f", "samples"};
    case AM_CHECK_DRIFT:
      return {"%.3f", "ppm"};
    default:
      return {"%.3f", "dB"};
  }
}

// The name of a check with its step: "gain@9", "delay".
std::string check_label(const LimitCheck& c) {
  const std::string name = am_enum_name(AM_ENUM_CHECK, c.check);
  return c.step > 0 ? name + "@" + std::to_string(c.step) : name;
}

}  // namespace

Limits read_limits(const std::string& path) {
  std::string text;
  std::FILE* f = open_file(path, "rb");
  bool read = f != nullptr;
  for (char chunk[4096]; read;) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, f);
    text.append(chunk, n);
    if (n < sizeof chunk) {
      read = std::ferror(f) == 0;
      break;
    }
  }
  const int error = errno;
  if (f != nullptr) {
    std::fclose(f);
  }
  if (!read) {
    throw UsageError(path + ": cannot read the limits: " + std::strerror(error));
  }
  const Reader reader(path);
  toml::table root;
  try {
    root = toml::parse(text, path);
  } catch (const toml::parse_error& e) {
    reader.refuse(static_cast<int>(e.source().begin.line),
                  "not a TOML document: " + std::string(e.description()));
  }
  Limits limits;
  limits.path = path;
  for (auto&& [key, node] : root) {
    if (key.str() == "gain" && node.is_table()) {
      limits.gain = read_gain(reader, *node.as_table());
    } else if (key.str() == "snr" && node.is_table()) {
      limits.snr = read_snr(reader, *node.as_table());
    } else {
      reader.refuse(Reader::line_of(key),
                    std::string("unknown ") + (node.is_table() ? "table [" : "key '") +
                        std::string(key.str()) + (node.is_table() ? "]" : "'") +
                        "; limits are given in [gain] and [snr]");
    }
  }
  return limits;
}

Judgement judgement(const std::string& file, const am_judgement& judged,
                    const std::vector<CheckFigure>& figures) {
  Judgement j;
  j.file = file;
  j.outcome = judged.outcome;
  for (const CheckFigure& f : figures) {
    if (std::isnan(f.min) && std::isnan(f.max)) {
      continue;
    }
    const int bit = f.step > 0 ? f.step - 1 : 0;
    const bool failed = (judged.failed_steps[f.check] >> bit & 1u) != 0;
    j.checks.push_back({f.check, f.step, f.value, f.min, f.max, !failed});
  }
  return j;
}

void judgement_json(Json& j, const std::optional<Judgement>& judged) {
  j.key("limits");
  if (!judged) {
    j.null();
    return;
  }
  const auto bound = [&j](const char* name, double v) {
    j.key(name);
    if (std::isnan(v)) {
      j.null();
    } else {
      j.value(v);
    }
  };
  j.begin_object();
  j.key("verdict").value(am_enum_name(AM_ENUM_LIMITS, judged->outcome));
  j.key("checks").begin_array();
  for (const LimitCheck& c : judged->checks) {
    j.begin_object();
    j.key("check").value(am_enum_name(AM_ENUM_CHECK, c.check));
    j.key("step");
    if (c.step > 0) {
      j.value(c.step);
    } else {
      j.null();
    }
    j.key("value").value(c.value);
    bound("min", c.min);
    bound("max", c.max);
    j.key("outcome").value(
        am_enum_name(AM_ENUM_LIMITS, c.passed ? AM_LIMITS_PASS : AM_LIMITS_FAIL));
    j.end_object();
  }
  j.end_array();
  j.end_object();
}

std::vector<std::string> judgement_csv(const std::optional<Judgement>& judged) {
  if (!judged) {
    return {"", ""};
  }
  std::string failed;
  for (const LimitCheck& c : judged->checks) {
    if (!c.passed) {
      if (!failed.empty()) {
        failed += ';';
      }
      failed += check_label(c);
    }
  }
  return {am_enum_name(AM_ENUM_LIMITS, judged->outcome), failed};
}

std::string judgement_summary(const std::optional<Judgement>& judged) {
  if (!judged) {
    return "-";
  }
  std::string s = am_enum_name(AM_ENUM_LIMITS, judged->outcome);
  int previous = -1;
  int steps = 0;  // steps listed of the check being listed
  for (const LimitCheck& c : judged->checks) {
    if (c.passed) {
      continue;
    }
    if (c.check != previous) {
      s += previous < 0 ? ": " : "; ";
      s += am_enum_name(AM_ENUM_CHECK, c.check);
      previous = c.check;
      steps = 0;
    }
    if (c.step > 0) {
      s += steps++ == 0 ? " of step " : ", ";
      s += std::to_string(c.step);
    }
  }
  return s;
}

std::string check_text(const LimitCheck& c) {
  const CheckFormat f = check_format(c.check);
  const auto figure = [&f](double v) { return number_text(v, f.format) + " " + f.unit; };
  std::string s = am_enum_name(AM_ENUM_CHECK, c.check);
  if (c.step > 0) {
    s += " of step " + std::to_string(c.step);
  }
  s += ": " + figure(c.value);
  if (std::isnan(c.value)) {
    return s + ", not shown to be inside its limits";
  }
  if (!std::isnan(c.min) && c.value < c.min) {
    return s + ", below its minimum " + figure(c.min);
  }
  return s + ", above its maximum " + figure(c.max);
}

std::string judgement_table(const std::optional<Judgement>& judged) {
  if (!judged) {
    return "";
  }
  std::size_t failed = 0;
  for (const LimitCheck& c : judged->checks) {
    failed += c.passed ? 0 : 1;
  }
  const std::size_t n = judged->checks.size();
  if (judged->outcome == AM_LIMITS_PASS) {
    return "limits     pass (" + judged->file + "): " + std::to_string(n) +
           (n == 1 ? " check inside its limits\n" : " checks inside their limits\n");
  }
  std::string t = "limits     FAIL (" + judged->file + "): " + std::to_string(failed) + " of " +
                  std::to_string(n) + " checks outside their limits:\n";
  for (const LimitCheck& c : judged->checks) {
    if (!c.passed) {
      t += "  - " + check_text(c) + "\n";
    }
  }
  return t;
}

}  // namespace cli
