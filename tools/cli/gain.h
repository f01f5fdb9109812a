// lumetra-measure: the gain of a device under the stepped test signal,
// measured on two audio files with the static core of lumetra, and the
// reports of it (table, JSON, chart).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/audio_file.h"
#include "lumetra/estimation.h"

namespace cli {

struct GainReport {
  AudioInfo reference;
  AudioInfo recording;
  double step_mode = 0.0;  // 0.0: 25.2 s steps, 1.0: 24.7 s
  double step_period = 0.0;
  lumetra::StepLayout layout{};    // the steps of the reference
  lumetra::Estimate estimate{};    // lumetra_estimation's outputs with their diagnostics
  lumetra::Levels own{};           // the reference's own step levels and spreads
  double gain[lumetra::kSteps]{};  // estimate level minus own level, dB
};

// Checks what lumetra needs before calling it: both files at 48000 Hz, a
// reference that holds the 15 s opening and 10 whole steps, a recording of
// at least 15 s. Throws InputError with the first thing that is wrong.
void check_gain_inputs(const Audio& reference, const Audio& recording, double step_mode);

// check_gain_inputs, then the estimate, and the reference measured through
// the same steps as an aligned recording of itself.
GainReport measure_gain(const Audio& reference, const Audio& recording, double step_mode);

// The readable report: files, the 11 steps, the peak level, the alignment
// diagnostics and the verdict with every cause that fired.
void print_gain_table(std::FILE* out, const GainReport& r);

// The --json document (schema "lumetra-measure/1", described in the README).
std::string gain_json(const GainReport& r);

// The --plot chart.
std::string gain_svg(const GainReport& r);

// Stable names of the failure causes, in bit order, and one line of text for
// each that fired.
std::vector<std::string> cause_names(std::uint32_t causes);
std::vector<std::string> cause_texts(const GainReport& r);

// Writes DIR/reference.wav (the stepped stimulus at 25.2 s steps) and
// DIR/recording.wav (it through a simulated device: a delay, a gain of its
// own on every step, a little noise), both mono 16-bit PCM at 48000 Hz, and
// makes DIR when it does not exist. Returns lines that describe the device.
// Throws OutputError.
std::vector<std::string> write_gain_demo(const std::string& dir);

}  // namespace cli
