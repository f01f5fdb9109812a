// quenbar-snr: the SNR of a measured signal gated by another, measured on two
// audio files with the static core of quenbar, and its reports.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/audio_file.h"
#include "quenbar/snr.h"

namespace cli {

struct SnrReport {
  AudioInfo gate;
  AudioInfo measured;
  quenbar::Estimate estimate{};  // SNR_estimation's result with its diagnostics
};

// Checks what quenbar needs before calling it: both files at one rate of at
// least 200 Hz (a 5 ms frame of at least one sample), a gate of at least one
// whole frame, and a measured signal at least as long as the gate's whole
// frames. Throws InputError with the first thing that is wrong.
void check_snr_inputs(const Audio& gate, const Audio& measured);

// check_snr_inputs, then the estimate at the files' rate.
SnrReport measure_snr(const Audio& gate, const Audio& measured);

void print_snr_table(std::FILE* out, const SnrReport& r);

// The --json document (schema "quenbar-snr/1", described in the README).
std::string snr_json(const SnrReport& r);

// A stable name for each reason, and a sentence that explains it.
const char* reason_name(quenbar::Reason reason);
const char* reason_text(quenbar::Reason reason);

// Writes DIR/gate.wav (speech-like bursts with silent pauses) and
// DIR/measured.wav (the same bursts in white noise, 20 dB below their mean
// power), 20 s of mono 16-bit PCM at 48000 Hz, and makes DIR when it does
// not exist. Returns lines that describe them. Throws OutputError.
std::vector<std::string> write_snr_demo(const std::string& dir);

}  // namespace cli
