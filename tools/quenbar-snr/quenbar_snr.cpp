#include "quenbar-snr/quenbar_snr.h"

#include <algorithm>
#include <filesystem>

#include "common/batch.h"
#include "common/command_line.h"
#include "common/csv.h"
#include "common/json.h"
#include "common/output_file.h"
#include "common/platform.h"
#include "quenbar-snr/snr_measure.h"
#include "quenbar-snr/snr_render.h"
#include "synth.h"

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
                   power, signal power, error, lag in samples, lag
                   prominence, lag reliable (1 or 0), the limits' verdict
                   and its failed checks
  --limits FILE    judge each finite SNR against the [snr] table of FILE
                   (TOML: min_db, max_db, inclusive); an unknown key, a
                   value of the wrong type or a minimum above its maximum
                   is a usage error naming the file and line
  --junit FILE     also write JUnit XML for CI servers: a test case per
                   measured file, a <failure> when its SNR is outside its
                   limits, an <error> when it cannot be used or the file
                   could not be measured
  --report FILE.html
                   also write the batch report: one self-contained page
                   with the outcomes' counts and a row per measured file
                   (verdict, limits, SNR, activity, lag)
  --jobs N         measure files in N worker processes at once (default:
                   one per processor, at most one per file)
  --align          shift MEASURED by its lag behind GATE before measuring
                   (the report says so); a lag that is not reliable is
                   refused (exit 3)
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
GATE from the cross-correlation of their first 10 s (at most 524288
samples), over lags up to 5 s either way (at most half that window), each
frequency weighted to unit magnitude (the phase transform), so that the
peak is sharp however coloured or periodic the signals. The lag is
reliable when its peak is at least 3 times the largest correlation more
than 5 ms away from it (its prominence): a lag beyond the search, or
signals without a distinct match (a steady tone, silence), give none. It
reports the lag and its prominence, warns on stderr when the lag is not 0,
and --align shifts MEASURED by a reliable lag (the late file loses its
first samples, and GATE is cut to what MEASURED then covers); with --align
a lag that is not reliable is refused with one line (exit 3).

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

Exit status: 0 a finite SNR (inside its limits); 1 retest: an SNR that is
NaN or infinite (the reason is printed), or non-finite samples; 6 reject: a
finite SNR outside its limits; 2 wrong command line (a limits file with a
mistake included); 3 an input file cannot be measured (with --align, a lag
that is not reliable included); 4 an output file or stdout cannot be
written; 5 out of memory or another unexpected error. With 2 to 5, one line
on stderr and nothing on stdout. A batch exits with its worst file's
status, in the order 0 pass, 6 reject, 1 retest, 3, 4, 5 (a worker that
dies gives its file 5); 2 and 4 stop it as a whole.
)";

// The options, declared for CLI11.
const std::vector<OptionDecl> kOptions = {
    {"--channel", true, {}},  {"--make-demo", true, {}}, {"--jobs", true, {}},
    {"--json", false, {}},    {"--jsonl", false, {}},    {"--csv", false, {}},
    {"--align", false, {}},   {"--resample", false, {}}, {"--help", false, {}},
    {"--version", false, {}}, {"--limits", true, {}},    {"--junit", true, {}},
    {"--report", true, {}},
};

// How the files are measured, whether one or many.
struct Settings {
  int channel = 0;
  bool align = false;            // the measured signal shifted by its lag
  bool resample = false;         // a measured file at another rate converted to the gate's
  std::optional<Limits> limits;  // --limits: its [snr] table
};

Settings settings(const CommandLine& line) {
  Settings s{channel_option(line), line.has("--align"), line.has("--resample"), {}};
  if (const auto it = line.values.find("--limits"); it != line.values.end()) {
    s.limits = read_limits(it->second);
    if (!s.limits->snr) {
      throw UsageError(it->second + " holds no [snr] table: quenbar-snr judges SNR limits");
    }
  }
  return s;
}

// A file measured, and judged against the limits when there are any.
SnrModel measured(SampleSource& gate, SampleSource& file, const Settings& s) {
  SnrModel m = measure_snr(gate, file, s.align);
  if (s.limits) {
    m.limits = judge_snr(m.report, *s.limits->snr, s.limits->path);
  }
  return m;
}

BatchLayout batch_layout() {
  return {kName,     snr_csv_header(),  {"SNR dB", "activity", "lag"},
          {9, 8, 7}, "measured",        "measured files",
          "gate",    snr_html_columns()};
}

// One file measured, as a batch prints it: its row or line, its status and
// its warnings.
FileResult file_result(const SnrModel& m, BatchFormat format, bool reports) {
  FileResult r;
  r.status = exit_status(m);
  if (reports) {
    r.junit = snr_junit(m);
    r.html_cells = snr_html_cells(m);
  }
  r.err = truncation_warning(kName, m.measured);
  if (const std::string w = lag_warning(m); !w.empty()) {
    r.err += std::string(kName) + ": " + w + "\n";
  }
  switch (format) {
    case BatchFormat::kJsonl:
      r.out = compact(snr_json(m));
      break;
    case BatchFormat::kCsv:
      r.out = csv_row(snr_csv_fields(m));
      break;
    case BatchFormat::kTable:
      r.out =
          summary_row(batch_layout(), std::to_string(r.status), am_verdict_name(m.report.verdict),
                      snr_summary_figures(m), m.measured.path) +
          "\n";
      break;
  }
  return r;
}

// GATE and several measured files (or one, with --jsonl or --csv): the
// gate read and checked once (a gate that cannot be decoded stops the batch
// before anything is measured), each measured file in a worker process,
// which reads the gate again beside it.
int run_batch_of(const CommandLine& line, const Settings& s, BatchFormat format,
                 ReportFiles& reports, std::FILE* out, std::FILE* err) {
  const std::vector<std::string> files(line.operands.begin() + 1, line.operands.end());
  const int jobs = std::min(jobs_option(line, processors()), static_cast<int>(files.size()));
  SampleSource gate_file(line.operands[0], s.channel);
  // The gate against itself: every check that concerns it alone.
  check_snr_inputs(gate_file.info(), gate_file.info(), s.align);
  const SnrGate gate = prepare_gate(gate_file, s.align);
  std::fputs(truncation_warning(kName, gate.info).c_str(), err);
  const auto measure_one = [&](const std::string& path) {
    SampleSource file(path, s.channel);
    if (s.resample) {
      file.resample_to(gate.info.rate);
    }
    check_snr_inputs(gate.info, file.info(), s.align);
    SampleSource gate_again =
        gate.samples ? SampleSource(*gate.samples) : SampleSource(gate.info.path, s.channel);
    return file_result(measured(gate_again, file, s), format, reports.any());
  };
  return run_and_report_batch(batch_layout(), format, "gate  " + describe_file(gate.info),
                              line.operands, jobs, measure_one, reports, out, err);
}

// Writes DIR/gate.wav (speech-like bursts with silent pauses) and
// DIR/measured.wav (the same bursts in white noise, 20 dB below their mean
// power), 20 s of mono 16-bit PCM at 48000 Hz, and makes DIR when it does
// not exist. Returns lines that describe them.
std::vector<std::string> write_snr_demo(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(filesystem_path(dir), ec);
  if (ec) {
    throw OutputError(dir + ": cannot make the folder: " + ec.message());
  }
  constexpr int kRate = 48000;
  constexpr double kSeconds = 20.0;
  constexpr double kSnrDb = 20.0;
  const synth::SnrScene scene = synth::speech_in_noise(kRate, kSeconds, kSnrDb, 1);
  const std::string gate_path = utf8_path(filesystem_path(dir) / "gate.wav");
  const std::string measured_path = utf8_path(filesystem_path(dir) / "measured.wav");
  write_wav16(gate_path, scene.gate, kRate);
  write_wav16(measured_path, scene.measured, kRate);
  return {
      gate_path + ": speech-like bursts with silent pauses, 20 s",
      measured_path + ": the same bursts in white noise, 16-bit PCM at 48000 Hz",
      "true SNR 20 dB: the bursts' mean power over the noise power",
  };
}

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  const CommandLine line = parse(args, kOptions);
  if (answered_without_measuring(line, kName, kHelp, write_snr_demo, out)) {
    return kExitTrusted;
  }
  const std::size_t files = measured_files(line, "GATE and at least one MEASURED file");
  const BatchFormat format = batch_format(line, files);
  const Settings s = settings(line);
  jobs_option(line, 1);  // refused when wrong, even where one file needs no workers
  ReportFiles reports = open_report_files(line, {});
  if (files > 1 || format != BatchFormat::kTable) {
    return run_batch_of(line, s, format, reports, out, err);
  }

  // One measured file, measured here as a batch's worker measures it, with
  // the full report. Headers first: lengths and rates are refused before
  // any sample is read.
  SampleSource gate_file(line.operands[0], s.channel);
  SampleSource measured_file(line.operands[1], s.channel);
  if (s.resample) {
    measured_file.resample_to(gate_file.info().rate);
  }
  check_snr_inputs(gate_file.info(), measured_file.info(), s.align);
  const SnrModel m = measured(gate_file, measured_file, s);
  if (reports.any()) {
    write_report_files(reports, batch_layout(), line.operands[0], "gate  " + describe_file(m.gate),
                       {line.operands[1]}, {file_result(m, BatchFormat::kTable, true)});
  }
  std::fputs(truncation_warning(kName, m.gate).c_str(), err);
  std::fputs(truncation_warning(kName, m.measured).c_str(), err);
  if (const std::string w = lag_warning(m); !w.empty()) {
    std::fprintf(err, "%s: %s\n", kName, w.c_str());
  }
  std::fputs((line.has("--json") ? snr_json(m) : snr_table(m)).c_str(), out);
  return exit_status(m);
}

}  // namespace

int quenbar_snr(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  return run_guarded(kName, run, args, out, err);
}

}  // namespace cli
