// Pieces that the reports of both tools share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/json.h"
#include "common/sample_source.h"

namespace cli {

// "PATH: WAV (Microsoft), 16-bit PCM, mono, 48000 Hz, N samples (T s)"; a
// resampled file: "44100 Hz resampled to 48000 Hz", N at the new rate.
std::string describe_file(const AudioInfo& a);

// The file's object of a --json document, under `name`.
void file_json(Json& j, const char* name, const AudioInfo& a);

// "T s": samples / rate seconds, cut (not rounded) to milliseconds, so that
// a file short of a limit never shows the limit.
std::string duration_text(std::int64_t samples, int rate);

// printf's text of the arguments (at most a line or two).
std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A limit of samples at `rate` in seconds, as short as it goes: "15 s",
// "7.5 s".
std::string seconds_text(double samples, int rate);

// v with printf's `format`, or "NaN", "Inf", "-Inf".
std::string number_text(double v, const char* format = "%.3f");

// The first NaN or infinite sample that a measurement uses. `role` is the
// file's part ("reference", "recording", "gate", "measured"); `position`
// counts samples of the file's channel from 0, at the file's own rate.
struct NonFiniteSample {
  std::string role;
  std::string path;
  std::int64_t position = 0;
  double value = 0.0;
  int file_rate = 0;  // the file's own rate when it was resampled, else 0
};

// The sample a report names (its signal AM_SIGNAL_*, position and value),
// or nothing for AM_SIGNAL_NONE. A sample of a file resampled as it was
// read comes from one of the file's own, which the converter spreads over
// its neighbours: it is then named by the file's first non-finite sample
// (file_non_finite), at the file's own rate.
std::optional<NonFiniteSample> non_finite_sample(int signal, std::int64_t position, double value,
                                                 const AudioInfo& file,
                                                 std::int64_t file_non_finite);

// "PATH (ROLE) holds a non-finite sample (NaN) at sample N (counted from
// 0), which the measurement uses".
std::string non_finite_text(const NonFiniteSample& s);

// The object {"file", "path", "position", "value"} under `name`, or null.
void non_finite_json(Json& j, const char* name, const std::optional<NonFiniteSample>& s);

// The warning line (ending with a newline) for a file that is shorter than
// its header announces: it is measured as far as it goes. "" for a whole
// file.
std::string truncation_warning(const char* program, const AudioInfo& file);

}  // namespace cli
