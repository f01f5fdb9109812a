// Pieces that the reports of both tools share.
#pragma once

#include <cstdint>
#include <string>

#include "cli/audio_file.h"
#include "cli/json.h"

namespace cli {

// "PATH: WAV (Microsoft), 16-bit PCM, mono, 48000 Hz, N samples (T s)".
std::string describe_file(const AudioInfo& a);

// The file's object of a --json document, under `name`.
void file_json(Json& j, const char* name, const AudioInfo& a);

// "T s": samples / rate seconds, cut (not rounded) to milliseconds, so that
// a file short of a limit never shows the limit.
std::string duration_text(std::int64_t samples, int rate);

// v with printf's `format`, or "NaN", "Inf", "-Inf".
std::string number_text(double v, const char* format = "%.3f");

}  // namespace cli
