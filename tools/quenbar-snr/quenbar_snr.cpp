#include "quenbar-snr/quenbar_snr.h"

#include <unistd.h>

#include <algorithm>
#include <optional>

#include "common/batch.h"
#include "common/command_line.h"
#include "common/json.h"
#include "common/report_text.h"
#include "common/sample_source.h"
#include "quenbar-snr/snr_measure.h"
#include "quenbar.h"

namespace cli {
namespace {

constexpr const char* kName = "quenbar-snr";

constexpr const char* kHelp = R"(Usage: quenbar-snr GATE MEASURED... [options]
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
                   the table; one MEASURED file only
  --jsonl          print each measured file's JSON document on one line
  --csv            print a CSV header, then a row per measured file: path,
                   exit status, verdict, SNR, reason, activity factor, noise
                   power, signal power, error
  --jobs N         measure files in N worker processes at once (default:
                   one per processor, at most one per file)
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

Batches: with several measured files (or --jsonl, --csv) GATE is read and
checked once, and each file is measured against it in a worker process of
its own, which reads GATE again (a GATE from standard input is held in
memory); the table has one summary row per file, in the order given.
A file that cannot be measured (or whose worker dies) gets a row or line
with its error, and a line on stderr; the others are still measured. While
a batch runs, stderr shows the progress when it is a terminal.

Sample scale: quenbar works on the 16-bit scale (full scale 32767). 16-bit
PCM samples are taken as their integer values. Every other encoding is taken
as libsndfile's normalised value (full scale 1.0) times 32767: a B-bit PCM
sample n becomes n / 2^(B-1) * 32767, a float sample x becomes x * 32767.

Exit status: 0 a finite SNR; 1 an SNR that is NaN or infinite (the reason
is printed), or non-finite samples; 2 wrong command line; 3 an input file
cannot be measured; 4 an output file or stdout cannot be written; 5 out of
memory or another unexpected error. With 2 to 5, one line on stderr and
nothing on stdout. A batch exits with the highest of its files' statuses
(a worker that dies gives its file 5); 2 and 4 stop it as a whole.
)";

// The options, declared for CLI11. --resample is read by the measurement.
const std::vector<OptionDecl> kOptions = {
    {"--channel", true, {}},  {"--make-demo", true, {}}, {"--jobs", true, {}},
    {"--json", false, {}},    {"--jsonl", false, {}},    {"--csv", false, {}},
    {"--align", false, {}},   {"--resample", false, {}}, {"--help", false, {}},
    {"--version", false, {}},
};

const std::vector<std::string> kCsvHeader = {"path",        "exit_status",  "verdict",
                                             "snr_db",      "reason",       "activity_factor",
                                             "noise_power", "signal_power", "error"};

std::string row_start(const std::string& status, const char* verdict, const std::string& snr,
                      const std::string& activity, const std::string& lag) {
  char row[128];
  std::snprintf(row, sizeof(row), "%6s  %-18s  %9s  %8s  %7s  ", status.c_str(), verdict,
                snr.c_str(), activity.c_str(), lag.c_str());
  return row;
}

// The gate of a batch: its header, checked once; its samples in memory only
// when it comes from standard input, which cannot be read again. Otherwise
// each worker reads it again as it measures, so that no process holds a
// whole recording.
struct Gate {
  AudioInfo info;
  std::optional<Audio> samples;
};

// One measured file of a batch, against the gate.
FileResult measure_one(const Gate& gate, const std::string& path, int channel, bool align,
                       bool resample, BatchFormat format) {
  InputFile file(path, channel);
  if (resample) {
    file.resample_to(gate.info.rate);
  }
  check_snr_inputs(gate.info, file.info(), align);
  SNR_estimation_initialize();
  SnrReport report;
  if (gate.samples) {
    report = measure_snr(*gate.samples, file, align);
  } else {
    InputFile gate_file(gate.info.path, channel);
    report = measure_snr(gate_file, file, align);
  }
  SNR_estimation_terminate();
  FileResult r;
  r.status = std::string(snr_verdict(report)) == "finite" ? kExitTrusted : kExitNotTrusted;
  r.err = truncation_warning(kName, report.measured);
  if (const std::string w = lag_warning(report); !w.empty()) {
    r.err += std::string(kName) + ": " + w + "\n";
  }
  const quenbar::Diagnostics& d = report.estimate.diagnostics;
  if (format == BatchFormat::kJsonl) {
    r.out = compact(snr_json(report));
  } else if (format == BatchFormat::kCsv) {
    r.out = csv_row({path, std::to_string(r.status), snr_verdict(report),
                     shortest(report.estimate.snr_db), quenbar::reason_text(d.reason).name,
                     shortest(d.activity_factor), shortest(d.noise_power), shortest(d.signal_power),
                     ""});
  } else {
    r.out = row_start(std::to_string(r.status), snr_verdict(report),
                      number_text(report.estimate.snr_db), number_text(d.activity_factor, "%.4f"),
                      std::to_string(report.lag.samples)) +
            path + "\n";
  }
  return r;
}

// GATE and several measured files (or one, with --jsonl or --csv): the
// gate read and checked once, each measured file in a worker process.
int run_batch_of(const CommandLine& line, int channel, bool align, bool resample,
                 BatchFormat format, std::FILE* out, std::FILE* err) {
  const std::vector<std::string> files(line.operands.begin() + 1, line.operands.end());
  const int jobs = std::min(jobs_option(line, processors()), static_cast<int>(files.size()));
  InputFile gate_file(line.operands[0], channel);
  // The gate against itself: every check that concerns it alone, from its
  // header, and again once it is read (a gate that cannot be decoded stops
  // the batch before anything is measured). It is read in chunks and let
  // go, unless it is standard input.
  check_snr_inputs(gate_file.info(), gate_file.info(), align);
  Gate gate;
  if (gate_file.info().path == "-") {
    gate.samples = gate_file.read();
    gate.info = gate.samples->info;
  } else {
    std::vector<double> chunk(65536);
    while (gate_file.read_chunk(chunk) > 0) {
    }
    gate.info = gate_file.info();
    gate.info.frames = gate_file.chunk_samples();
  }
  check_snr_inputs(gate.info, gate.info, align);
  warn_if_truncated(err, kName, gate.info);

  BatchJob job;
  job.program = kName;
  job.files = files;
  job.jobs = jobs;
  job.measure = [&](const std::string& path) {
    return measure_one(gate, path, channel, align, resample, format);
  };
  job.error_output = [format](const std::string& path, const std::string& message, int status) {
    if (format == BatchFormat::kJsonl) {
      return jsonl_error(path, message, status);
    }
    if (format == BatchFormat::kCsv) {
      std::vector<std::string> fields(kCsvHeader.size());
      fields[0] = path;
      fields[1] = std::to_string(status);
      fields[2] = "error";
      fields.back() = message;
      return csv_row(fields);
    }
    return row_start(std::to_string(status), "error", "-", "-", "-") + message + "\n";
  };
  job.progress = ::isatty(::fileno(err)) ? err : nullptr;
  const std::vector<FileResult> results = run_batch(job);

  if (format == BatchFormat::kCsv) {
    std::fputs(csv_row(kCsvHeader).c_str(), out);
  } else if (format == BatchFormat::kTable) {
    std::fprintf(out, "gate  %s\n\n", describe_file(gate.info).c_str());
    std::fputs((row_start("status", "verdict", "SNR dB", "activity", "lag") + "measured\n").c_str(),
               out);
  }
  for (const FileResult& r : results) {
    std::fputs(r.out.c_str(), out);
    std::fputs(r.err.c_str(), err);
  }
  const int worst = worst_status(results);
  if (format == BatchFormat::kTable) {
    std::fprintf(out, "\n%zu measured files; exit status %d, the highest of theirs\n",
                 results.size(), worst);
  }
  return worst;
}

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  const CommandLine line = parse(args, kOptions);
  if (answered_without_measuring(line, kName, kHelp, write_snr_demo, out)) {
    return kExitTrusted;
  }
  const std::size_t files = measured_files(line, "GATE and at least one MEASURED file");
  const BatchFormat format = batch_format(line, files);
  const int channel = channel_option(line);
  jobs_option(line, 1);  // refused when wrong, even where one file needs no workers
  const bool align = line.has("--align");
  const bool resample = line.has("--resample");
  if (files > 1 || format != BatchFormat::kTable) {
    return run_batch_of(line, channel, align, resample, format, out, err);
  }

  // One measured file: measured here, with the full report.
  // Headers first: lengths and rates are refused before any sample is read.
  InputFile gate_file(line.operands[0], channel);
  InputFile measured_file(line.operands[1], channel);
  if (resample) {
    measured_file.resample_to(gate_file.info().rate);
  }
  check_snr_inputs(gate_file.info(), measured_file.info(), align);
  // Measured while both files are read, chunk by chunk.
  SNR_estimation_initialize();
  const SnrReport report = measure_snr(gate_file, measured_file, align);
  SNR_estimation_terminate();
  warn_if_truncated(err, kName, report.gate);
  warn_if_truncated(err, kName, report.measured);
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
