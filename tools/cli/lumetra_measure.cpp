#include "cli/lumetra_measure.h"

#include <memory>
#include <optional>

#include "audiomeasure_version.h"
#include "cli/audio_file.h"
#include "cli/gain.h"
#include "cli/options.h"
#include "cli/output.h"
#include "lumetra.h"

namespace cli {
namespace {

constexpr const char* kName = "lumetra-measure";

constexpr const char* kHelp = R"(Usage: lumetra-measure REFERENCE RECORDING [options]
       lumetra-measure --make-demo DIR

Measures a device under the stepped test signal: aligns RECORDING (what the
device captured) to REFERENCE (the stimulus as played) and prints, for each
of the 11 steps, the level and the spread of the 50 ms block levels beside
the reference's own, the gain (recording minus reference), then the peak
level, the alignment diagnostics and whether the result can be trusted.

Options:
  --step-period auto|25.2|24.7
                           step length in seconds; auto (the default) takes
                           the period under which the reference's own steps
                           are steady (median spread of their 50 ms block
                           levels at most 1 dB, the other period's at least
                           3 dB); when neither fits clearly it measures with
                           25.2 s and warns. A period given that the
                           reference contradicts is measured as given, with
                           a warning naming the period that fits
  --channel N              the channel to read (1 = first) from files with
                           several channels, which need it; mono files are
                           read as they are
  --resample               convert a file at another sample rate to 48000 Hz
                           as it is read (libsoxr, very high quality; n
                           samples become round(n * 48000 / rate)); the
                           report names the file's own rate
  --json                   print a JSON document (schema lumetra-measure/1)
                           instead of the table
  --plot FILE.svg          also write an SVG chart of the step levels; FILE
                           must not be one of the inputs (however named) and,
                           when it exists, must be a regular file; it is
                           written under a temporary name and renamed into
                           place
  --make-demo DIR          write DIR/reference.wav and DIR/recording.wav, a
                           stimulus and a simulated device's recording of it
  -h, --help               print this text
  --version                print "lumetra-measure" and the version

Files: whatever libsndfile reads (WAV, FLAC, AIFF, ...; regular files, or
- for standard input), at 48000 Hz (or any rate, with --resample). The
reference holds the 15 s opening and at least 10 whole steps (12816000
samples at 25.2 s, 12576000 at 24.7 s); the recording at least 15 s.
Both are checked from their headers before any sample is read.

Verdict: "trusted" (exit 0) when lumetra trusts the alignment (failed = 0),
every step's measured (settled) half comes wholly from the recording file
and every sample the measurement uses is finite. Otherwise exit 1 with
"not_trusted" (failed = 1), "incomplete" (the recording ends before some
step's measured half does: the library pads it with silence; the table's
"from file" column shows each step's share and marks the short ones with
*), or "non_finite_samples" (naming the file and the first NaN or infinite
sample, counted from 0).

Sample scale: lumetra works on the 16-bit scale (full scale 32767). 16-bit
PCM samples are taken as their integer values. Every other encoding is taken
as libsndfile's normalised value (full scale 1.0) times 32767: a B-bit PCM
sample n becomes n / 2^(B-1) * 32767, a float sample x becomes x * 32767.

Exit status: 0 measured and trusted; 1 measured but not trusted, incomplete
or with non-finite samples; 2 wrong command line (an output that is an input
included); 3 an input file cannot be measured; 4 an output file or stdout
cannot be written; 5 out of memory or another unexpected error. With 2 to
5, one line on stderr and nothing on stdout.
)";

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  const CommandLine line = parse(args, {"--step-period", "--channel", "--plot", "--make-demo"},
                                 {"--json", "--resample", "--help", "--version"});
  if (line.has("--help")) {
    std::fputs(kHelp, out);
    return kExitTrusted;
  }
  if (line.has("--version")) {
    std::fprintf(out, "%s %s\n", kName, AUDIOMEASURE_VERSION);
    return kExitTrusted;
  }
  if (make_demo(line, write_gain_demo, out)) {
    return kExitTrusted;
  }
  if (line.operands.size() != 2) {
    throw UsageError("needs two files, REFERENCE and RECORDING (" +
                     std::to_string(line.operands.size()) + " given)");
  }
  std::optional<double> step_mode;  // none: auto, from the reference's steps
  if (const auto it = line.values.find("--step-period"); it != line.values.end()) {
    if (it->second == "25.2") {
      step_mode = 0.0;
    } else if (it->second == "24.7") {
      step_mode = 1.0;
    } else if (it->second != "auto") {
      throw UsageError("--step-period is auto, 25.2 or 24.7, not '" + it->second + "'");
    }
  }
  const int channel = channel_option(line);
  const std::string plot = line.values.count("--plot") != 0 ? line.values.at("--plot") : "";
  if (line.values.count("--plot") != 0 && plot.empty()) {
    throw UsageError("--plot needs a file name");
  }
  if (!plot.empty()) {
    check_output_path("--plot", plot, line.operands);
  }

  // Headers first: lengths and rates are refused before any sample is read.
  InputFile reference_file(line.operands[0], channel);
  InputFile recording_file(line.operands[1], channel);
  if (line.has("--resample")) {
    reference_file.resample_to(lumetra::kRateHz);
    recording_file.resample_to(lumetra::kRateHz);
  }
  check_gain_inputs(reference_file.info(), recording_file.info(), step_mode);
  // Created now, so that a chart that cannot be written stops the work early.
  std::unique_ptr<OutputFile> chart;
  if (!plot.empty()) {
    chart = std::make_unique<OutputFile>(plot);
  }
  const Audio reference = reference_file.read();
  const Audio recording = recording_file.read();
  lumetra_estimation_initialize();
  const GainReport report = measure_gain(reference, recording, step_mode);
  lumetra_estimation_terminate();
  if (chart) {
    chart->write_and_close(gain_svg(report));
  }

  warn_if_truncated(err, kName, reference.info);
  warn_if_truncated(err, kName, recording.info);
  if (!report.period_warning.empty()) {
    std::fprintf(err, "%s: warning: %s\n", kName, report.period_warning.c_str());
  }
  if (line.has("--json")) {
    std::fputs(gain_json(report).c_str(), out);
  } else {
    print_gain_table(out, report);
  }
  return std::string(gain_verdict(report)) == "trusted" ? kExitTrusted : kExitNotTrusted;
}

}  // namespace

int lumetra_measure(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  return run_guarded(kName, run, args, out, err);
}

}  // namespace cli
