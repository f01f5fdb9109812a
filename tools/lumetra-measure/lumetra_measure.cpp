#include "lumetra-measure/lumetra_measure.h"

#include <algorithm>
#include <filesystem>
#include <memory>

#include "common/batch.h"
#include "common/command_line.h"
#include "common/csv.h"
#include "common/json.h"
#include "common/output_file.h"
#include "common/platform.h"
#include "lumetra-measure/gain_measure.h"
#include "lumetra-measure/gain_render.h"
#include "stimulus.h"

namespace cli {
namespace {

constexpr const char* kName = "lumetra-measure";

constexpr const char* kHelp = R"(Usage: lumetra-measure REFERENCE RECORDING... [options]
       lumetra-measure --make-demo DIR

Measures a device under the stepped test signal: aligns RECORDING (what the
device captured) to REFERENCE (the stimulus as played) and prints, for each
of the 11 steps, the level and the spread of the 50 ms block levels beside
the reference's own, the gain (recording minus reference), then each step's
quality (noise and distortion, DC offset, spread above the reference's,
clipped samples), the peak level, the alignment diagnostics, the clock
drift and whether the result can be trusted.

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
  --drift-correct          when the recording's clock drifts against the
                           reference's (1 ppm or more), convert the recording
                           by the drift and measure it again; the report says
                           so, and its results are then not fixed to the last
                           bit. The whole recording is held in memory for it
  --json                   print a JSON document (schema lumetra-measure/1)
                           instead of the table; one RECORDING only
  --jsonl                  print each recording's JSON document on one line
  --csv                    print a CSV header, then a row per recording:
                           path, exit status, verdict, causes, delay in
                           samples, trust ratio, peak level, the 11 levels,
                           the 11 gains, error; then per step the spread,
                           coverage, noise and distortion, DC offset, spread
                           excess, clipped samples and questionable causes,
                           the drift and whether it was corrected, the
                           limits' verdict and its failed checks ("gain@9")
  --limits FILE            judge each usable measurement against the device's
                           limits in FILE's [gain] table (TOML; see Limits)
  --jobs N                 measure recordings in N worker processes at once
                           (default: one per processor, at most one per
                           recording)
  --plot FILE.svg          also write an SVG chart of the step levels (one
                           RECORDING only); FILE must not be one of the
                           inputs (however named) and, when it exists, must
                           be a regular file; it is written under a
                           temporary name and renamed into place
  --junit FILE             also write JUnit XML for CI servers: a test case
                           per recording, a <failure> when it is outside its
                           limits, an <error> when its measurement cannot be
                           used or it could not be measured
  --report FILE.html       also write the batch report: one self-contained
                           page with the outcomes' counts, a row per
                           recording (verdict, limits, key figures) and its
                           step chart. Both are written as --plot is
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
every step's measured (settled) half comes wholly from the recording file,
every sample the measurement uses is finite and every step's reading is a
reading of the device. Otherwise exit 1 with the first that holds of
"non_finite_samples" (naming the file and the first NaN or infinite sample,
counted from 0), "not_trusted" (failed = 1; a silent opening or a clock
drift that explains it is named), "incomplete" (the recording ends before
some step's measured half does: the library pads it with silence; the
table's "from file" column shows each step's share and marks the short ones
with *) and "questionable" (a step marked ! in the step quality table:
noise and distortion above -16 dB re its level, any clipped sample, or a
spread more than 1 dB above the reference's own, as a dropout or a gain
jump gives).

Limits: a TOML file whose [gain] table bounds, for every step, min_db and
max_db (the gain), max_spread_db, max_noise_distortion_db and
max_clipped_samples, and for the whole recording max_delay_samples and
max_drift_ppm (their sizes); [gain.step.N] sets step N's own (N from 1 to
11). Bounds are inclusive. An unknown key, a value of the wrong type, a
minimum above its maximum or a step out of 1 to 11 is a usage error
naming the file and line. A trusted measurement outside its limits is
"reject" (exit 6); the judgement is in the table, the JSON document
("limits") and the CSV row.

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

Exit status: 0 measured and trusted (inside its limits); 1 retest: measured
but not trusted, incomplete, questionable or with non-finite samples; 6
reject: trusted but outside its limits; 2 wrong command line (an output
that is an input, a limits file with a mistake included); 3 an input file
cannot be measured; 4 an output file or stdout cannot be written; 5 out of
memory or another unexpected error. With 2 to 5, one line on stderr and
nothing on stdout. A batch exits with its worst recording's status, in the
order 0 pass, 6 reject, 1 retest, 3, 4, 5 (a worker that dies gives its
recording 5): a batch is only as final as its least usable file. 2 and 4
stop it as a whole.
)";

// --step-period takes the library's names of the periods.
constexpr int kPeriods[] = {AM_PERIOD_AUTO, AM_PERIOD_25_2, AM_PERIOD_24_7};

// The options, declared for CLI11.
std::vector<OptionDecl> options() {
  std::vector<std::string> periods;
  for (int p : kPeriods) {
    periods.emplace_back(am_enum_name(AM_ENUM_PERIOD, p));
  }
  return {
      {"--step-period", true, periods}, {"--channel", true, {}}, {"--plot", true, {}},
      {"--make-demo", true, {}},        {"--jobs", true, {}},    {"--json", false, {}},
      {"--jsonl", false, {}},           {"--csv", false, {}},    {"--resample", false, {}},
      {"--drift-correct", false, {}},   {"--help", false, {}},   {"--version", false, {}},
      {"--limits", true, {}},           {"--junit", true, {}},   {"--report", true, {}},
  };
}

// How the recordings are measured, whether one or many.
struct Settings {
  am_gain_options options;  // the library's defaults but for the step period and drift_correct
  int channel = 0;
  bool resample = false;         // other rates converted to 48000 Hz as they are read
  std::optional<Limits> limits;  // --limits: its [gain] table
};

Settings settings(const CommandLine& line) {
  Settings s;
  am_gain_options_init(&s.options);
  if (const auto it = line.values.find("--step-period"); it != line.values.end()) {
    for (int p : kPeriods) {
      if (it->second == am_enum_name(AM_ENUM_PERIOD, p)) {
        s.options.step_period = p;
      }
    }
  }
  s.options.drift_correct = line.has("--drift-correct") ? 1 : 0;
  if (const auto it = line.values.find("--limits"); it != line.values.end()) {
    s.limits = read_limits(it->second);
    if (!s.limits->gain) {
      throw UsageError(it->second + " holds no [gain] table: lumetra-measure judges gain limits");
    }
  }
  s.channel = channel_option(line);
  s.resample = line.has("--resample");
  return s;
}

// A recording measured, and judged against the limits when there are any.
GainModel measured(const GainReference& reference, SampleSource& recording, const Settings& s) {
  GainModel m = measure_gain(reference, recording);
  if (s.limits) {
    m.limits = judge_gain(m.report, *s.limits->gain, s.limits->path);
  }
  return m;
}

BatchLayout batch_layout() {
  return {kName,       gain_csv_header(),  {"delay", "trust ratio", "peak dB"},
          {7, 11, 8},  "recording",        "recordings",
          "reference", gain_html_columns()};
}

// One recording measured, as a batch prints it: its row or line, its
// status and its warnings; with `reports`, its parts of the report files.
FileResult file_result(const GainModel& m, BatchFormat format, bool reports) {
  FileResult r;
  r.status = exit_status(m);
  if (reports) {
    r.junit = gain_junit(m);
    r.html_cells = gain_html_cells(m);
    r.html_section = gain_html_section(m);
  }
  r.err = truncation_warning(kName, m.recording);
  if (const std::string w = period_warning(m); !w.empty()) {
    r.shared_err = std::string(kName) + ": warning: " + m.reference.path + ": " + w + "\n";
  }
  switch (format) {
    case BatchFormat::kJsonl:
      r.out = compact(gain_json(m));
      break;
    case BatchFormat::kCsv:
      r.out = csv_row(gain_csv_fields(m));
      break;
    case BatchFormat::kTable:
      r.out =
          summary_row(batch_layout(), std::to_string(r.status), am_verdict_name(m.report.verdict),
                      gain_summary_figures(m), m.recording.path) +
          "\n";
      break;
  }
  return r;
}

// REFERENCE and several recordings (or one, with --jsonl or --csv): the
// reference prepared once, before the workers that measure the recordings
// are forked, so that they share it.
int run_batch_of(const CommandLine& line, const Settings& s, BatchFormat format,
                 ReportFiles& reports, std::FILE* out, std::FILE* err) {
  const std::vector<std::string> recordings(line.operands.begin() + 1, line.operands.end());
  const int jobs = std::min(jobs_option(line, processors()), static_cast<int>(recordings.size()));
  SampleSource reference_file(line.operands[0], s.channel);
  if (s.resample) {
    reference_file.resample_to(AM_GAIN_RATE);
  }
  // The reference against itself: every check that concerns it alone.
  check_gain_inputs(reference_file.info(), reference_file.info(), s.options.step_period);
  const GainReference reference = prepare_reference(reference_file, s.options);
  std::fputs(truncation_warning(kName, reference.info).c_str(), err);
  const auto measure_one = [&](const std::string& path) {
    SampleSource file(path, s.channel);
    if (s.resample) {
      file.resample_to(AM_GAIN_RATE);
    }
    check_gain_inputs(reference.info, file.info(), s.options.step_period);
    return file_result(measured(reference, file, s), format, reports.any());
  };
  return run_and_report_batch(batch_layout(), format, "reference  " + describe_file(reference.info),
                              line.operands, jobs, measure_one, reports, out, err);
}

// Writes DIR/reference.wav (the stepped stimulus at 25.2 s steps) and
// DIR/recording.wav (it through a simulated device: a delay, a gain of its
// own on every step, a little noise), both mono 16-bit PCM at 48000 Hz, and
// makes DIR when it does not exist. Returns lines that describe the device.
std::vector<std::string> write_gain_demo(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(filesystem_path(dir), ec);
  if (ec) {
    throw OutputError(dir + ": cannot make the folder: " + ec.message());
  }
  const stimulus::Stepped stepped;  // 25.2 s steps
  const std::vector<double> reference = stimulus::stepped_reference(stepped);
  stimulus::Device device;
  device.delay = 12345;
  device.step_gain_db = {0.5, -1.0, 1.5, -2.0, 2.5, -3.0, 0.25, -0.75, 3.5, -1.25, 1.0};
  device.noise_db = -80.0;
  const std::vector<double> recording = stimulus::record(reference, device, stepped.step_seconds);
  const std::string ref_path = utf8_path(filesystem_path(dir) / "reference.wav");
  const std::string rec_path = utf8_path(filesystem_path(dir) / "recording.wav");
  write_wav16(ref_path, reference, AM_GAIN_RATE);
  write_wav16(rec_path, recording, AM_GAIN_RATE);

  std::vector<std::string> lines;
  lines.push_back(ref_path + ": the stepped stimulus, 15 s of noise then 11 tones of 25.2 s");
  lines.push_back(rec_path + ": it through a simulated device, 16-bit PCM at " +
                  std::to_string(AM_GAIN_RATE) + " Hz");
  char b[200];
  std::snprintf(b, sizeof(b), "device: %lld samples late (%.4f ms), noise at %.0f dB re 32767",
                static_cast<long long>(device.delay),
                static_cast<double>(device.delay) * 1000.0 / AM_GAIN_RATE, device.noise_db);
  lines.push_back(b);
  std::string gains = "device gain per step, dB:";
  for (double g : device.step_gain_db) {
    std::snprintf(b, sizeof(b), " %+.2f", g);
    gains += b;
  }
  lines.push_back(gains);
  return lines;
}

int run(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  const CommandLine line = parse(args, options());
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
  ReportFiles reports =
      open_report_files(line, plot.empty() ? std::vector<std::string>{} : std::vector{plot});
  if (recordings > 1 || format != BatchFormat::kTable) {
    return run_batch_of(line, s, format, reports, out, err);
  }

  // One recording, measured here as a batch's worker measures it, with the
  // full report. Headers first: lengths and rates are refused before any
  // sample is read.
  SampleSource reference_file(line.operands[0], s.channel);
  SampleSource recording_file(line.operands[1], s.channel);
  if (s.resample) {
    reference_file.resample_to(AM_GAIN_RATE);
    recording_file.resample_to(AM_GAIN_RATE);
  }
  check_gain_inputs(reference_file.info(), recording_file.info(), s.options.step_period);
  // Created now, so that a chart that cannot be written stops the work early.
  std::unique_ptr<OutputFile> chart;
  if (!plot.empty()) {
    chart = std::make_unique<OutputFile>(plot);
  }
  const GainReference reference = prepare_reference(reference_file, s.options);
  const GainModel m = measured(reference, recording_file, s);
  if (reports.any()) {
    write_report_files(reports, batch_layout(), line.operands[0],
                       "reference  " + describe_file(m.reference), {line.operands[1]},
                       {file_result(m, BatchFormat::kTable, true)});
  }
  if (chart) {
    chart->write_and_close(gain_svg(m));
  }
  std::fputs(truncation_warning(kName, m.reference).c_str(), err);
  std::fputs(truncation_warning(kName, m.recording).c_str(), err);
  if (const std::string w = period_warning(m); !w.empty()) {
    std::fprintf(err, "%s: warning: %s\n", kName, w.c_str());
  }
  std::fputs((line.has("--json") ? gain_json(m) : gain_table(m)).c_str(), out);
  return exit_status(m);
}

}  // namespace

int lumetra_measure(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  return run_guarded(kName, run, args, out, err);
}

}  // namespace cli
