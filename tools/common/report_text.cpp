#include "common/report_text.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "audiomeasure.h"

namespace cli {

std::string number_text(double v, const char* format) {
  if (std::isnan(v)) {
    return "NaN";
  }
  if (std::isinf(v)) {
    return v > 0.0 ? "Inf" : "-Inf";
  }
  char b[64];
  std::snprintf(b, sizeof(b), format, v);
  return b;
}

std::string duration_text(std::int64_t samples, int rate) {
  const std::int64_t ms = samples * 1000 / rate;
  char b[48];
  std::snprintf(b, sizeof(b), "%lld.%03lld s", static_cast<long long>(ms / 1000),
                static_cast<long long>(ms % 1000));
  return b;
}

std::string printed(const char* format, ...) {
  char b[512];
  std::va_list args;
  va_start(args, format);
  std::vsnprintf(b, sizeof(b), format, args);
  va_end(args);
  return b;
}

std::string seconds_text(double samples, int rate) {
  char b[32];
  std::snprintf(b, sizeof(b), "%g s", samples / static_cast<double>(rate));
  return b;
}

std::string describe_file(const AudioInfo& a) {
  const std::string channels = a.channels == 1 ? "mono"
                                               : "channel " + std::to_string(a.channel) + " of " +
                                                     std::to_string(a.channels);
  const std::string rate = a.resampled_from_rate == 0
                               ? std::to_string(a.rate) + " Hz"
                               : std::to_string(a.resampled_from_rate) + " Hz resampled to " +
                                     std::to_string(a.rate) + " Hz";
  return a.path + ": " + a.container + ", " + a.encoding + ", " + channels + ", " + rate + ", " +
         std::to_string(a.frames) + " samples (" + duration_text(a.frames, a.rate) + ")" +
         (a.truncated ? ", TRUNCATED: shorter than its header announces" : "");
}

void file_json(Json& j, const char* name, const AudioInfo& a) {
  j.key(name).begin_object();
  j.key("path").value(a.path);
  j.key("container").value(a.container);
  j.key("encoding").value(a.encoding);
  j.key("sample_scale").value(a.scale == Scale::kInteger16 ? "integer" : "normalised*32767");
  j.key("rate_hz").value(a.rate);
  j.key("channels").value(a.channels);
  j.key("channel").value(a.channel);
  j.key("samples").value(a.frames);
  j.key("truncated").value(a.truncated);
  j.key("resampled_from");
  if (a.resampled_from_rate == 0) {
    j.null();
  } else {
    j.begin_object();
    j.key("rate_hz").value(a.resampled_from_rate);
    j.key("samples").value(a.resampled_from_frames);
    j.end_object();
  }
  j.end_object();
}

std::optional<NonFiniteSample> non_finite_sample(int signal, std::int64_t position, double value,
                                                 const AudioInfo& file,
                                                 std::int64_t file_non_finite) {
  if (signal == AM_SIGNAL_NONE) {
    return std::nullopt;
  }
  NonFiniteSample s{am_enum_name(AM_ENUM_SIGNAL, signal), file.path, position, value, 0};
  if (file.resampled_from_rate != 0) {
    s.position = file_non_finite;
    s.file_rate = file.resampled_from_rate;
  }
  return s;
}

std::string non_finite_text(const NonFiniteSample& s) {
  return s.path + " (" + s.role + ") holds a non-finite sample (" + number_text(s.value) +
         ") at sample " + std::to_string(s.position) + " (counted from 0" +
         (s.file_rate != 0 ? " at its own " + std::to_string(s.file_rate) + " Hz" : "") +
         "), which the measurement uses";
}

void non_finite_json(Json& j, const char* name, const std::optional<NonFiniteSample>& s) {
  j.key(name);
  if (!s) {
    j.null();
    return;
  }
  j.begin_object();
  j.key("file").value(s->role);
  j.key("path").value(s->path);
  j.key("position").value(s->position);
  j.key("value").value(s->value);
  j.end_object();
}

std::string truncation_warning(const char* program, const AudioInfo& file) {
  if (!file.truncated) {
    return "";
  }
  const std::string name = file.path == "-" ? "standard input (-)" : file.path;
  return std::string(program) + ": warning: " + name +
         " is shorter than its header announces (cut short?); measuring the " +
         std::to_string(file.frames) + " samples it holds\n";
}

}  // namespace cli
