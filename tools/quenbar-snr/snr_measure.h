// quenbar-snr: the SNR of a measured signal gated by another, measured on two
// audio files with the static core of quenbar, and its reports.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/report_text.h"
#include "common/sample_source.h"
#include "quenbar-snr/lag.h"
#include "quenbar/snr.h"

namespace cli {

struct SnrReport {
  AudioInfo gate;
  AudioInfo measured;
  Lag lag;                      // of the measured signal behind the gate
  bool aligned = false;         // --align: the measured signal was shifted by the lag
  std::int64_t gate_first = 0;  // first sample of each file that was measured
  std::int64_t measured_first = 0;
  std::int64_t gate_samples = 0;              // gate samples handed to the estimate
  std::optional<NonFiniteSample> non_finite;  // the first one the estimate reads
  quenbar::Estimate estimate{};               // SNR_estimation's result with its diagnostics
};

// Checks, from the files' headers, what quenbar needs: both files at one
// rate with a frame of at least one sample, a gate of at least one whole
// frame, and (unless `align`, which cuts the gate to the shifted measured
// signal) a measured signal at least as long as the gate's whole frames.
// Throws InputError with the first thing that is wrong.
void check_snr_inputs(const AudioInfo& gate, const AudioInfo& measured, bool align = false);

// check_snr_inputs, the lag of the measured signal behind the gate, and the
// estimate at the files' rate; with `align`, the pairs gate[i] and
// measured[i + lag] are measured: the file that is late loses its first
// |lag| samples, and the gate is cut to what the measured signal covers.
// Throws InputError when less than one frame is left.
//
// The files are measured while they are read (quenbar::Stream), both read
// to their ends in chunks: memory stays bounded whatever their length (the
// two openings for the lag, a chunk of each). The errors of reading are
// thrown as InputFile::read throws them, the gate's first. The report is
// the one of the whole arrays, bit for bit.
SnrReport measure_snr(InputFile& gate, InputFile& measured, bool align = false);

// The same on samples in memory (a gate read from standard input, tests).
SnrReport measure_snr(const Audio& gate, const Audio& measured, bool align = false);

// measure_snr with the gate in memory and the measured signal read while
// it is measured.
SnrReport measure_snr(const Audio& gate, InputFile& measured, bool align = false);

// "finite" (exit 0), "not_finite" (the SNR is NaN or infinite: the reason
// says why) or "non_finite_samples" (a file holds NaN or infinite samples
// that the estimate reads).
const char* snr_verdict(const SnrReport& r);

// The warning for a lag that was not corrected, or "" when there is none.
std::string lag_warning(const SnrReport& r);

void print_snr_table(std::FILE* out, const SnrReport& r);

// The --json document (schema "quenbar-snr/1", described in docs/json.md).
std::string snr_json(const SnrReport& r);

// Writes DIR/gate.wav (speech-like bursts with silent pauses) and
// DIR/measured.wav (the same bursts in white noise, 20 dB below their mean
// power), 20 s of mono 16-bit PCM at 48000 Hz, and makes DIR when it does
// not exist. Returns lines that describe them. Throws OutputError.
std::vector<std::string> write_snr_demo(const std::string& dir);

}  // namespace cli
