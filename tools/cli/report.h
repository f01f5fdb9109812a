// Pieces that the reports of both tools share.
#pragma once

#include <string>

#include "cli/audio_file.h"
#include "cli/json.h"

namespace cli {

// "PATH: WAV (Microsoft), 16-bit PCM, mono, 48000 Hz, N samples (T s)".
std::string describe_file(const AudioInfo& a);

// The file's object of a --json document, under `name`.
void file_json(Json& j, const char* name, const AudioInfo& a);

// v with printf's `format`, or "NaN", "Inf", "-Inf".
std::string number_text(double v, const char* format = "%.3f");

}  // namespace cli
