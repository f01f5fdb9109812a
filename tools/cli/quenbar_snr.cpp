#include "cli/quenbar_snr.h"

#include "audiomeasure_version.h"
#include "cli/audio_file.h"
#include "cli/options.h"
#include "cli/snr_report.h"
#include "quenbar.h"

namespace cli {
namespace {

constexpr const char* kName = "quenbar-snr";

constexpr const char* kHelp = R"(Usage: quenbar-snr GATE MEASURED [options]
       quenbar-snr --make-demo DIR

Estimates the signal-to-noise ratio of MEASURED in dB. GATE, sample-aligned
with it, decides which 5 ms frames hold signal: a frame whose smoothed gate
level is above -70 dB is active. MEASURED's mean power in the inactive
frames is the noise; its mean power in the active frames, less the noise,
is the signal. Prints the SNR with the frame length and count, the active
frames, the activity factor, the noise and signal power, and why the result
is NaN or infinite when it is.

Options:
  --channel N      the channel to read (1 = first) from files with several
                   channels, which need it; mono files are read as they are
  --json           print a JSON document (schema quenbar-snr/1) instead of
                   the table
  --align          shift MEASURED by its lag behind GATE before measuring
                   (the report says so)
  --resample       convert MEASURED, when its rate is not GATE's, to GATE's
                   rate as it is read (libsoxr, very high quality; n samples
                   become round(n * gate rate / its rate)); the lag, --align
                   and the frames then count samples at GATE's rate, and a
                   non-finite sample is named at MEASURED's own rate
  --make-demo DIR  write DIR/gate.wav and DIR/measured.wav, speech-like
                   bursts and the same bursts in noise at a 20 dB SNR
  -h, --help       print this text
  --version        print "quenbar-snr" and the version

Files: whatever libsndfile reads (WAV, FLAC, AIFF, ...; regular files, or
- for standard input), both at one rate of at least 200 Hz (or MEASURED at
another, with --resample), which is the rate of the estimate. GATE holds
at least one whole frame; MEASURED at least as many samples as GATE's
whole frames. Both are checked from their headers
before any sample is read. Every sample the estimate reads must be finite:
a NaN or infinite one makes the result not usable (exit 1), and the report
names the file and the sample (counted from 0).

Lag: the two files must be sample-aligned; a lag of 1 ms already costs
about 1.4 dB at a 40 dB SNR. The tool estimates the lag of MEASURED behind
GATE from the cross-correlation of their first 4 s (at most 262144
samples), over lags up to 1 s either way (at most a quarter of that
window): several bursts of speech fit in 4 s, and 1 s is far beyond the
latency of a recording chain. It reports the lag, warns on stderr when it
is not 0, and --align shifts MEASURED by it: the late file loses its first
samples, and GATE is cut to what MEASURED then covers.

Sample scale: quenbar works on the 16-bit scale (full scale 32767). 16-bit
PCM samples are taken as their integer values. Every other encoding is taken
as libsndfile's normalised value (full scale 1.0) times 32767: a B-bit PCM
sample n becomes n / 2^(B-1) * 32767, a float sample x becomes x * 32767.

Exit status: 0 a finite SNR; 1 an SNR that is NaN or infinite (the reason
is printed), or non-finite samples; 2 wrong command line; 3 an input file
cannot be measured; 4 an output file or stdout cannot be written; 5 out of
memory or another unexpected error. With 2 to 5, one line on stderr and
nothing on stdout.
)";

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  const CommandLine line = parse(args, {"--channel", "--make-demo"},
                                 {"--json", "--align", "--resample", "--help", "--version"});
  if (line.has("--help")) {
    std::fputs(kHelp, out);
    return kExitTrusted;
  }
  if (line.has("--version")) {
    std::fprintf(out, "%s %s\n", kName, AUDIOMEASURE_VERSION);
    return kExitTrusted;
  }
  if (make_demo(line, write_snr_demo, out)) {
    return kExitTrusted;
  }
  if (line.operands.size() != 2) {
    throw UsageError("needs two files, GATE and MEASURED (" + std::to_string(line.operands.size()) +
                     " given)");
  }
  const int channel = channel_option(line);
  // Headers first: lengths and rates are refused before any sample is read.
  InputFile gate_file(line.operands[0], channel);
  InputFile measured_file(line.operands[1], channel);
  if (line.has("--resample")) {
    measured_file.resample_to(gate_file.info().rate);
  }
  const bool align = line.has("--align");
  check_snr_inputs(gate_file.info(), measured_file.info(), align);
  const Audio gate = gate_file.read();
  const Audio measured = measured_file.read();
  SNR_estimation_initialize();
  const SnrReport report = measure_snr(gate, measured, align);
  SNR_estimation_terminate();
  warn_if_truncated(err, kName, gate.info);
  warn_if_truncated(err, kName, measured.info);
  if (const std::string w = lag_warning(report); !w.empty()) {
    std::fprintf(err, "%s: %s\n", kName, w.c_str());
  }
  if (line.has("--json")) {
    std::fputs(snr_json(report).c_str(), out);
  } else {
    print_snr_table(out, report);
  }
  return std::string(snr_verdict(report)) == "finite" ? kExitTrusted : kExitNotTrusted;
}

}  // namespace

int quenbar_snr(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  return run_guarded(kName, run, args, out, err);
}

}  // namespace cli
