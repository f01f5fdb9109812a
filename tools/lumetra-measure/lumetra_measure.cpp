#include "lumetra-measure/lumetra_measure.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "common/batch.h"
#include "common/command_line.h"
#include "common/json.h"
#include "common/output_file.h"
#include "common/sample_source.h"
#include "lumetra-measure/gain_measure.h"
#include "lumetra.h"

namespace cli {
namespace {

constexpr const char* kName = "lumetra-measure";

constexpr const char* kHelp = R"(Usage: lumetra-measure REFERENCE RECORDING... [options]
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
                           instead of the table; one RECORDING only
  --jsonl                  print each recording's JSON document on one line
  --csv                    print a CSV header, then a row per recording:
                           path, exit status, verdict, causes, delay in
                           samples, trust ratio, peak level, the 11 levels,
                           the 11 gains, error
  --jobs N                 measure recordings in N worker processes at once
                           (default: one per processor, at most one per
                           recording)
  --plot FILE.svg          also write an SVG chart of the step levels (one
                           RECORDING only); FILE must not be one of the
                           inputs (however named) and, when it exists, must
                           be a regular file; it is written under a
                           temporary name and renamed into place
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

Batches: with several recordings (or --jsonl, --csv) the reference is read
and checked once, and each recording is measured in a worker process of its
own; the table then has one summary row per recording, in the order given.
A recording that cannot be measured (or whose worker dies) gets a row or
line with its error, and a line on stderr; the others are still measured.
While a batch runs, stderr shows the progress when it is a terminal.

Sample scale: lumetra works on the 16-bit scale (full scale 32767). 16-bit
PCM samples are taken as their integer values. Every other encoding is taken
as libsndfile's normalised value (full scale 1.0) times 32767: a B-bit PCM
sample n becomes n / 2^(B-1) * 32767, a float sample x becomes x * 32767.

Exit status: 0 measured and trusted; 1 measured but not trusted, incomplete
or with non-finite samples; 2 wrong command line (an output that is an input
included); 3 an input file cannot be measured; 4 an output file or stdout
cannot be written; 5 out of memory or another unexpected error. With 2 to
5, one line on stderr and nothing on stdout. A batch exits with the highest
of its recordings' statuses (a worker that dies gives its recording 5); 2
and 4 stop it as a whole.
)";

// The options, declared for CLI11. --step-period auto and --resample are
// read by the measurement.
const std::vector<OptionDecl> kOptions = {
    {"--step-period", true, {"auto", "25.2", "24.7"}},
    {"--channel", true, {}},
    {"--plot", true, {}},
    {"--make-demo", true, {}},
    {"--jobs", true, {}},
    {"--json", false, {}},
    {"--jsonl", false, {}},
    {"--csv", false, {}},
    {"--resample", false, {}},
    {"--help", false, {}},
    {"--version", false, {}},
};

// How the recordings are measured, whether one or many.
struct Settings {
  std::optional<double> step_mode;  // none: auto, from the reference's steps
  int channel = 0;
  bool resample = false;  // other rates converted to 48000 Hz as they are read
};

Settings settings(const CommandLine& line) {
  Settings s;
  if (const auto it = line.values.find("--step-period"); it != line.values.end()) {
    if (it->second == "25.2") {
      s.step_mode = 0.0;
    } else if (it->second == "24.7") {
      s.step_mode = 1.0;
    } else if (it->second != "auto") {
      throw UsageError("--step-period is auto, 25.2 or 24.7, not '" + it->second + "'");
    }
  }
  s.channel = channel_option(line);
  s.resample = line.has("--resample");
  return s;
}

// One recording of a batch, against the reference read once: its row,
// line or CSV row, its status and its warnings.
FileResult measure_one(const ReferenceSummary& reference, const std::string& path,
                       const Settings& s, BatchFormat format) {
  InputFile file(path, s.channel);
  if (s.resample) {
    file.resample_to(lumetra::kRateHz);
  }
  check_gain_inputs(reference.info, file.info(), s.step_mode);
  lumetra_estimation_initialize();
  const GainReport report = measure_gain(reference, file, s.step_mode);
  lumetra_estimation_terminate();
  FileResult r;
  r.status = std::string(gain_verdict(report)) == "trusted" ? kExitTrusted : kExitNotTrusted;
  r.err = truncation_warning(kName, report.recording);
  if (!report.period_warning.empty()) {
    r.err += std::string(kName) + ": warning: " + path + ": " + report.period_warning + "\n";
  }
  const lumetra::Estimate& e = report.estimate;
  const lumetra::Diagnostics& d = e.diagnostics;
  if (format == BatchFormat::kJsonl) {
    r.out = compact(gain_json(report));
  } else if (format == BatchFormat::kCsv) {
    std::string causes;
    for (const std::string& c : verdict_causes(report)) {
      causes += (causes.empty() ? "" : ";") + c;
    }
    std::vector<std::string> fields = {path,
                                       std::to_string(r.status),
                                       gain_verdict(report),
                                       causes,
                                       shortest(d.total_delay),
                                       shortest(d.trust_ratio),
                                       shortest(e.peak_level)};
    for (int k = 0; k < lumetra::kSteps; ++k) {
      fields.push_back(shortest(e.step_level[k]));
    }
    for (int k = 0; k < lumetra::kSteps; ++k) {
      fields.push_back(shortest(report.gain[k]));
    }
    fields.emplace_back();  // no error
    r.out = csv_row(fields);
  } else {
    char row[160];
    std::snprintf(row, sizeof(row), "%6d  %-18s  %7s  %11s  %8s  ", r.status, gain_verdict(report),
                  number_text(d.total_delay, "%.0f").c_str(),
                  number_text(d.trust_ratio, "%.6f").c_str(), number_text(e.peak_level).c_str());
    r.out = row + path + "\n";
  }
  return r;
}

std::vector<std::string> csv_header() {
  std::vector<std::string> h = {"path",          "exit_status", "verdict",      "causes",
                                "delay_samples", "trust_ratio", "peak_level_db"};
  for (int k = 1; k <= lumetra::kSteps; ++k) {
    h.push_back("level_db_" + std::to_string(k));
  }
  for (int k = 1; k <= lumetra::kSteps; ++k) {
    h.push_back("gain_db_" + std::to_string(k));
  }
  h.emplace_back("error");
  return h;
}

// REFERENCE and several recordings (or one, with --jsonl or --csv): the
// reference read and checked once, each recording in a worker process.
int run_batch_of(const CommandLine& line, const Settings& s, BatchFormat format, std::FILE* out,
                 std::FILE* err) {
  const std::vector<std::string> recordings(line.operands.begin() + 1, line.operands.end());
  const int jobs = std::min(jobs_option(line, processors()), static_cast<int>(recordings.size()));
  InputFile reference_file(line.operands[0], s.channel);
  if (s.resample) {
    reference_file.resample_to(lumetra::kRateHz);
  }
  // The reference against itself: every check that concerns it alone.
  check_gain_inputs(reference_file.info(), reference_file.info(), s.step_mode);
  // Read once, in chunks: the workers get only what is bounded of it.
  const ReferenceSummary reference = read_reference(reference_file);
  warn_if_truncated(err, kName, reference.info);

  BatchJob job;
  job.program = kName;
  job.files = recordings;
  job.jobs = jobs;
  job.measure = [&](const std::string& path) { return measure_one(reference, path, s, format); };
  const std::size_t columns = csv_header().size();
  job.error_output = [format, columns](const std::string& path, const std::string& message,
                                       int status) {
    if (format == BatchFormat::kJsonl) {
      return jsonl_error(path, message, status);
    }
    if (format == BatchFormat::kCsv) {
      std::vector<std::string> fields(columns);
      fields[0] = path;
      fields[1] = std::to_string(status);
      fields[2] = "error";
      fields.back() = message;
      return csv_row(fields);
    }
    char row[64];
    std::snprintf(row, sizeof(row), "%6d  %-18s  %7s  %11s  %8s  ", status, "error", "-", "-", "-");
    return row + message + "\n";
  };
  job.progress = ::isatty(::fileno(err)) ? err : nullptr;
  const std::vector<FileResult> results = run_batch(job);

  if (format == BatchFormat::kCsv) {
    std::fputs(csv_row(csv_header()).c_str(), out);
  } else if (format == BatchFormat::kTable) {
    std::fprintf(out, "reference  %s\n\n", describe_file(reference.info).c_str());
    std::fprintf(out, "%6s  %-18s  %7s  %11s  %8s  %s\n", "status", "verdict", "delay",
                 "trust ratio", "peak dB", "recording");
  }
  for (const FileResult& r : results) {
    std::fputs(r.out.c_str(), out);
    std::fputs(r.err.c_str(), err);
  }
  const int worst = worst_status(results);
  if (format == BatchFormat::kTable) {
    std::fprintf(out, "\n%zu recordings; exit status %d, the highest of theirs\n", results.size(),
                 worst);
  }
  return worst;
}

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  const CommandLine line = parse(args, kOptions);
  if (answered_without_measuring(line, kName, kHelp, write_gain_demo, out)) {
    return kExitTrusted;
  }
  const std::size_t recordings = measured_files(line, "REFERENCE and at least one RECORDING");
  const BatchFormat format = batch_format(line, recordings);
  const Settings s = settings(line);
  jobs_option(line, 1);  // refused when wrong, even where one recording needs no workers
  const std::string plot = line.values.count("--plot") != 0 ? line.values.at("--plot") : "";
  if (line.values.count("--plot") != 0) {
    if (recordings != 1 || format != BatchFormat::kTable) {
      throw UsageError("--plot draws the chart of one RECORDING, with the table or --json");
    }
    if (plot.empty()) {
      throw UsageError("--plot needs a file name");
    }
    check_output_path("--plot", plot, line.operands);
  }
  if (recordings > 1 || format != BatchFormat::kTable) {
    return run_batch_of(line, s, format, out, err);
  }

  // One recording: measured here, with the full report.
  // Headers first: lengths and rates are refused before any sample is read.
  InputFile reference_file(line.operands[0], s.channel);
  InputFile recording_file(line.operands[1], s.channel);
  if (s.resample) {
    reference_file.resample_to(lumetra::kRateHz);
    recording_file.resample_to(lumetra::kRateHz);
  }
  check_gain_inputs(reference_file.info(), recording_file.info(), s.step_mode);
  // Created now, so that a chart that cannot be written stops the work early.
  std::unique_ptr<OutputFile> chart;
  if (!plot.empty()) {
    chart = std::make_unique<OutputFile>(plot);
  }
  // Both read in chunks, the reference first: memory stays bounded whatever
  // their lengths.
  const ReferenceSummary reference = read_reference(reference_file);
  lumetra_estimation_initialize();
  const GainReport report = measure_gain(reference, recording_file, s.step_mode);
  lumetra_estimation_terminate();
  if (chart) {
    chart->write_and_close(gain_svg(report));
  }

  warn_if_truncated(err, kName, report.reference);
  warn_if_truncated(err, kName, report.recording);
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
