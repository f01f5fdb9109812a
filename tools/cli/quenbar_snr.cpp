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
  --make-demo DIR  write DIR/gate.wav and DIR/measured.wav, speech-like
                   bursts and the same bursts in noise at a 20 dB SNR
  -h, --help       print this text
  --version        print "quenbar-snr" and the version

Files: whatever libsndfile reads (WAV, FLAC, AIFF, ...), both at one rate
of at least 200 Hz, which is the rate of the estimate. GATE holds at least
one whole frame; MEASURED at least as many samples as GATE's whole frames.

Sample scale: quenbar works on the 16-bit scale (full scale 32767). 16-bit
PCM samples are taken as their integer values. Every other encoding is taken
as libsndfile's normalised value (full scale 1.0) times 32767: a B-bit PCM
sample n becomes n / 2^(B-1) * 32767, a float sample x becomes x * 32767.

Exit status: 0 a finite SNR; 1 an SNR that is NaN or infinite (the reason
is printed); 2 wrong command line; 3 an input file cannot be measured; 4 an
output file cannot be written; 5 out of memory or another unexpected error.
)";

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  const CommandLine line =
      parse(args, {"--channel", "--make-demo"}, {"--json", "--help", "--version"});
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
  const Audio gate = read_channel(line.operands[0], channel);
  const Audio measured = read_channel(line.operands[1], channel);
  warn_if_truncated(err, kName, gate.info);
  warn_if_truncated(err, kName, measured.info);
  SNR_estimation_initialize();
  const SnrReport report = measure_snr(gate, measured);
  SNR_estimation_terminate();
  if (line.has("--json")) {
    std::fputs(snr_json(report).c_str(), out);
  } else {
    print_snr_table(out, report);
  }
  return report.estimate.diagnostics.reason == quenbar::Reason::kFinite ? kExitTrusted
                                                                        : kExitNotTrusted;
}

}  // namespace

int quenbar_snr(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  return run_guarded(kName, run, args, out, err);
}

}  // namespace cli
