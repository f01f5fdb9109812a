// lumetra-measure's command line: help, usage errors, the files it refuses
// and the outputs it cannot write, each with its exit status and one line of
// explanation, all before the estimation runs. (Measurements of real files
// run the program itself: tools_test.py.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>

#include "common/command_line.h"
#include "common/utf8.h"
#include "lumetra-measure/gain_render.h"
#include "lumetra-measure/lumetra_measure.h"
#include "lumetra-measure/step_chart.h"
#include "tools/tool_support.h"

namespace {

using tools_test::Ran;
using tools_test::Scratch;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int kReferenceSamples = 12816000;  // the opening and 10 steps of 25.2 s

Ran measure(const std::vector<std::string>& args) {
  return tools_test::run(cli::lumetra_measure, args);
}

void expect_refused(const Ran& r, int status, const std::string& says) {
  tools_test::expect_refused(r, "lumetra-measure", status, says);
}

TEST(LumetraMeasure, HelpStatesTheScaleAndTheStatuses) {
  const Ran r = measure({"--help"});
  EXPECT_EQ(r.status, cli::kExitTrusted);
  EXPECT_EQ(r.err, "");
  for (const char* part :
       {"Usage: lumetra-measure REFERENCE RECORDING", "--step-period auto|25.2|24.7", "--channel N",
        "--json", "--plot FILE.svg", "--make-demo DIR", "--drift-correct", "--limits FILE",
        "--junit FILE", "--report FILE.html", "\"questionable\"", "6\nreject",
        "16-bit\nPCM samples are taken as their integer values", "n / 2^(B-1) * 32767", "x * 32767",
        "Exit status: 0"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(measure({"a", "b", "-h"}).status, cli::kExitTrusted);
}

TEST(LumetraMeasure, CommandLineMistakes) {
  struct Case {
    std::vector<std::string> args;
    const char* says;
  };
  const Case cases[] = {
      {{}, "needs REFERENCE and at least one RECORDING (files given: 0)"},
      {{"a.wav"}, "(files given: 1)"},
      {{"-", "-"}, "- (standard input) is given more than once; it holds one file"},
      {{"a.wav", "-", "b.wav", "-", "--csv"}, "- (standard input) is given more than once"},
      {{"a.wav", "b.wav", "--step-period", "25"}, "--step-period is auto, 25.2 or 24.7, not '25'"},
      {{"a.wav", "b.wav", "--step-period=25.20"}, "not '25.20'"},
      {{"a.wav", "b.wav", "--channel", "0"}, "--channel takes a channel number from 1 up"},
      {{"a.wav", "b.wav", "--plot"}, "--plot needs a value"},
      {{"a.wav", "b.wav", "--plot="}, "--plot needs a value"},
      {{"a.wav", "b.wav", "--plot", ""}, "--plot needs a file name"},
      // Batches: refused before any file is opened.
      {{"a.wav", "b.wav", "c.wav", "--plot", "x.svg"}, "--plot draws the chart of one RECORDING"},
      {{"a.wav", "b.wav", "--csv", "--plot", "x.svg"}, "--plot draws the chart of one RECORDING"},
      {{"a.wav", "b.wav", "c.wav", "--json"}, "--json prints one file's document (2 files given)"},
      {{"a.wav", "b.wav", "--jsonl", "--csv"}, "--json, --jsonl and --csv exclude each other"},
      {{"a.wav", "b.wav", "--jobs", "0"}, "--jobs takes a number of worker processes from 1 up"},
      {{"a.wav", "b.wav", "c.wav", "--jobs", "-1"}, "from 1 up, not '-1'"},
      {{"a.wav", "b.wav", "c.wav", "--jobs=two"}, "from 1 up, not 'two'"},
      {{"a.wav", "b.wav", "--jobs"}, "--jobs needs a value"},
      {{"a.wav", "b.wav", "--verbose"}, "unknown option --verbose"},
      {{"a.wav", "b.wav", "--json", "--json"}, "--json is given twice"},
      {{"--make-demo", "d", "a.wav"}, "--make-demo DIR takes nothing else"},
      {{"--make-demo", "d", "--json"}, "--make-demo DIR takes nothing else"},
  };
  for (const Case& c : cases) {
    const Ran r = measure(c.args);
    expect_refused(r, cli::kExitUsage, c.says);
    EXPECT_NE(r.err.find("(see lumetra-measure --help)"), std::string::npos);
  }
}

class Files : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new Scratch;
    tools_test::write_shorts(path("long.wav"), kWav16, 48000, 1,
                             std::vector<short>(kReferenceSamples, 0));
    tools_test::write_shorts(path("short.wav"), kWav16, 48000, 1, std::vector<short>(719999, 0));
    tools_test::write_shorts(path("span.wav"), kWav16, 48000, 1, std::vector<short>(720000, 0));
    tools_test::write_shorts(path("rate.wav"), kWav16, 44100, 1, std::vector<short>(1000, 0));
    tools_test::write_shorts(path("stereo.wav"), kWav16, 48000, 2,
                             std::vector<short>(2 * 720000, 0));
    tools_test::write_shorts(path("empty.wav"), kWav16, 48000, 1, {});
    tools_test::write_bytes(path("text.wav"), "hello\n");
  }
  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }
  static std::string path(const std::string& name) { return scratch_->path(name); }

 private:
  static Scratch* scratch_;
};
Scratch* Files::scratch_ = nullptr;

TEST_F(Files, InputsThatCannotBeMeasured) {
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const std::string text = path("text.wav");
  const Case cases[] = {
      {{path("rate.wav"), path("span.wav")},
       path("rate.wav") + ": sample rate 44100 Hz; lumetra measures 48000 Hz only (--resample "
                          "converts it)"},
      {{path("long.wav"), path("rate.wav")}, "sample rate 44100 Hz"},
      {{path("span.wav"), path("span.wav"), "--step-period", "25.2"},
       "720000 samples (15.000 s); a reference with 25.2 s steps needs at least 12816000 "
       "(267.000 s)"},
      {{path("span.wav"), path("span.wav")}, "with 24.7 s steps needs at least 12576000"},
      {{path("span.wav"), path("span.wav"), "--step-period", "24.7"},
       "with 24.7 s steps needs at least 12576000"},
      {{path("long.wav"), path("short.wav")},
       path("short.wav") + ": 719999 samples (14.999 s); a recording needs at least 720000"},
      {{path("long.wav"), path("stereo.wav")}, "has 2 channels; choose one with --channel N"},
      {{path("long.wav"), path("stereo.wav"), "--channel", "3"}, "there is no channel 3"},
      {{path("long.wav"), path("empty.wav")}, "holds no samples"},
      {{text, path("long.wav")}, text + ": cannot read it as audio"},
      {{path("long.wav"), path("missing.wav")}, "missing.wav: cannot read it as audio"},
  };
  for (const Case& c : cases) {
    expect_refused(measure(c.args), cli::kExitInput, c.says);
  }
}

TEST_F(Files, OutputsThatCannotBeWrittenOrWouldDestroyAnInput) {
  // Checked before the estimation, which therefore never runs.
  std::filesystem::create_hard_link(path("long.wav"), path("link.wav"));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
    const char* stdout_path = nullptr;
  };
  const Case cases[] = {
      {{path("long.wav"), path("long.wav"), "--plot", path("no/folder/x.svg")},
       cli::kExitOutput,
       "no/folder/x.svg: cannot write it"},
      {{"--make-demo", path("text.wav") + "/demo"}, cli::kExitOutput, "cannot make the folder"},
      {{path("long.wav"), path("long.wav"), "--plot", "/dev/full"},
       cli::kExitOutput,
       "/dev/full: is not a regular file"},
      {{path("long.wav"), path("span.wav"), "--plot", path("link.wav")},
       cli::kExitUsage,
       "--plot " + path("link.wav") + " is the input " + path("long.wav")},
      {{path("span.wav"), path("long.wav"), "--plot", path("") + "./span.wav"},
       cli::kExitUsage,
       "is the input " + path("span.wav")},
      {{"--help"},
       cli::kExitOutput,
       "cannot write the output to stdout: No space left on device",
       "/dev/full"},
  };
  const auto before = std::filesystem::file_size(path("long.wav"));
  for (const Case& c : cases) {
    expect_refused(tools_test::run(cli::lumetra_measure, c.args, c.stdout_path), c.status, c.says);
  }
  EXPECT_EQ(std::filesystem::file_size(path("long.wav")), before);
}

TEST_F(Files, TheChartReplacesItsFileWhole) {
  // The chart is written beside its path and renamed onto it: another name
  // of the old file keeps the old contents, and no temporary file is left.
  Scratch s;
  tools_test::write_bytes(s.path("keep.txt"), "kept\n");
  std::filesystem::create_hard_link(s.path("keep.txt"), s.path("chart.svg"));
  const Ran r = measure({path("long.wav"), path("long.wav"), "--plot", s.path("chart.svg")});
  EXPECT_EQ(r.status, cli::kExitNotTrusted) << r.err;
  std::ifstream chart(s.path("chart.svg"));
  std::string first;
  std::getline(chart, first);
  EXPECT_EQ(first.rfind("<?xml", 0), 0u) << first;
  std::ifstream keep(s.path("keep.txt"));
  std::getline(keep, first);
  EXPECT_EQ(first, "kept");
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(s.path(""))) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"chart.svg", "keep.txt"}));
}

// --- The reports, on made-up results ----------------------------------------------

// A trusted result, or one that failed for `causes` (bits 1u << AM_CAUSE_*).
cli::GainModel made_up(std::uint32_t causes) {
  cli::GainModel m;
  m.reference = {"ref.wav", "WAV (Microsoft)", "16-bit PCM",           48000, 1,
                 1,         12864000,          cli::Scale::kInteger16, false};
  m.recording = {"rec \"1\".wav", "WAV (Microsoft)",       "24-bit PCM", 48000, 2, 2,
                 12876345,        cli::Scale::kNormalised, true};
  am_gain_report& r = m.report;
  am_gain_report_init(&r);
  r.step_mode = 0.0;
  r.step_period_s = 25.2;
  for (int k = 0; k < AM_STEPS; ++k) {
    r.step_start[k] = 720000 + 1209600 * k;
    r.step_samples[k] = 1209600;
    r.step_level[k] = -6.0 - k;
    r.step_range[k] = 0.25;
    r.reference_step_level[k] = -7.0 - k;
    r.reference_step_range[k] = 0.125;
    r.gain[k] = 1.0;
    r.coverage[k] = 1.0;
  }
  r.peak_level = -3.5;
  r.failed = causes != 0 ? 1.0 : 0.0;
  r.causes = r.verdict_causes = causes;
  r.verdict = causes != 0 ? AM_VERDICT_NOT_TRUSTED : AM_VERDICT_TRUSTED;
  r.onset_frame_reference = 161;
  r.onset_frame_recording = 212;
  r.coarse_delay = -12240.0;
  r.coarse_delay_flag = 0.0;
  r.peak_index = 707655;
  r.trust_ratio = 0.0625;
  r.total_delay = 12345.0;
  r.total_delay_ms = 257.1875;
  r.aligned = AM_ALIGNED_HEAD;
  r.aligned_samples = 12800000;
  return m;
}

TEST(GainReport, EveryCauseIsNamedAndExplained) {
  struct Cause {
    int cause;
    const char* name;
    const char* text;
  };
  const Cause causes[] = {
      {AM_CAUSE_UNREADABLE_INPUT, "unreadable_input", "cannot be read as a record"},
      {AM_CAUSE_SHORT_INPUT, "short_input", "shorter than the procedure reads"},
      {AM_CAUSE_COARSE_DELAY_TOO_LARGE, "coarse_delay_too_large",
       "above half the alignment span: activity starts far later in the reference than in the "
       "recording (coarse delay -12240 samples, limit 360000 = 7.5 s)"},
      {AM_CAUSE_DELAY_OUT_OF_RANGE, "delay_out_of_range",
       "beyond the largest accepted delay (total delay 12345 samples, limit +-240000 = 5 s)"},
      {AM_CAUSE_PEAK_NEAR_END, "peak_near_end",
       "cannot be judged (peak at index 707655 of 1439999; the judged window reaches 240000 "
       "lags to each side)"},
      {AM_CAUSE_PEAK_NOT_PROMINENT, "peak_not_prominent",
       "above its limit (trust ratio 0.0625, limit 0.04)"},
      {AM_CAUSE_NOT_LAGGING, "not_lagging", "does not lag the reference"},
      {AM_CAUSE_NO_USABLE_BLOCK, "no_usable_block", "no step has a usable 50 ms block level"},
  };
  std::uint32_t all = 0;
  std::vector<std::string> names;
  for (const Cause& c : causes) {
    const std::uint32_t bit = 1u << c.cause;
    const cli::GainModel m = made_up(bit);
    EXPECT_EQ(cli::cause_names(bit), std::vector<std::string>{c.name});
    const std::vector<std::string> texts = cli::cause_texts(m.report);
    ASSERT_EQ(texts.size(), 1u) << c.name;
    EXPECT_NE(texts[0].find(c.text), std::string::npos) << texts[0];
    const std::string t = cli::gain_table(m);
    EXPECT_NE(t.find("result     NOT TRUSTED (failed = 1):\n  - " + texts[0] + "\n"),
              std::string::npos)
        << t;
    EXPECT_NE(cli::gain_json(m).find("\"causes\": [\n    \"" + std::string(c.name) + "\"\n  ]"),
              std::string::npos);
    all |= bit;
    names.push_back(c.name);
  }
  EXPECT_EQ(cli::cause_names(all), names);
  EXPECT_EQ(cli::cause_texts(made_up(all).report).size(), 8u);
}

TEST(GainReport, TableOfATrustedResult) {
  cli::GainModel m = made_up(0);
  m.report.trust_ratio = kNaN;
  const std::string t = cli::gain_table(m);
  for (const char* part : {
           "reference  ref.wav: WAV (Microsoft), 16-bit PCM, mono, 48000 Hz, 12864000 samples "
           "(268.000 s)\n",
           "recording  rec \"1\".wav: WAV (Microsoft), 24-bit PCM, channel 2 of 2, 48000 Hz, "
           "12876345 samples (268.257 s), TRUNCATED: shorter than its header announces\n",
           "   1    15.000     -7.000      0.125     -6.000      0.250    +1.000    100%\n",
           "  11   267.000    -17.000      0.125    -16.000      0.250    +1.000    100%\n",
           "peak level  -3.500 dB re 32767",
           "  onset frames       reference 161, recording 212",
           "  coarse delay       -12240 samples, flag 0 (set above 360000)\n",
           "  trust ratio        NaN (limit 0.04; not judged)\n",
           "  total delay        12345 samples = 257.1875 ms\n",
           "  aligned recording  head: 12800000 of 12864000 samples from the recording",
           "result     trusted (failed = 0)\n",
       }) {
    EXPECT_NE(t.find(part), std::string::npos) << part << "\n" << t;
  }
}

TEST(GainReport, StepsNotWhollyFromTheFileMakeItIncomplete) {
  cli::GainModel m = made_up(0);
  am_gain_report& r = m.report;
  r.coverage[9] = 0.99995;
  r.coverage[10] = 0.0;
  r.uncovered_steps = 1u << 9 | 1u << 10;
  r.verdict = AM_VERDICT_INCOMPLETE;
  r.verdict_causes = 1u << AM_CAUSE_STEPS_NOT_COVERED;
  const std::string t = cli::gain_table(m);
  for (const char* part : {
           "  10   241.800    -16.000      0.125    -15.000      0.250    +1.000   99.9% *\n",
           "  11   267.000    -17.000      0.125    -16.000      0.250    +1.000    0.0% *\n",
           "result     INCOMPLETE (failed = 0):\n  - the recording ends early: the measured half "
           "of steps 10, 11 comes only partly from it (99.9%, 0.0% from the file)",
       }) {
    EXPECT_NE(t.find(part), std::string::npos) << part << "\n" << t;
  }
  const std::string j = cli::gain_json(m);
  for (const char* part : {
           "\"gain_db\": 1,\n      \"coverage\": 0.99995,\n",
           "\"failed\": 0,\n  \"causes\": [],",
           "\"verdict\": \"incomplete\",\n  \"verdict_causes\": [\n    \"steps_not_covered\"\n  ],"
           "\n  \"uncovered_steps\": [\n    10,\n    11\n  ],\n  \"non_finite_sample\": null,\n",
       }) {
    EXPECT_NE(j.find(part), std::string::npos) << part << "\n" << j;
  }
}

TEST(GainReport, JsonOfAResult) {
  cli::GainModel m = made_up(0);
  m.report.trust_ratio = kNaN;
  const std::string j = cli::gain_json(m);
  for (const char* part : {
           "{\n  \"schema\": \"lumetra-measure/1\",\n  \"reference\": {\n    \"path\": "
           "\"ref.wav\",",
           "\"path\": \"rec \\\"1\\\".wav\"",
           "\"sample_scale\": \"normalised*32767\"",
           "\"truncated\": true",
           "\"step_mode\": 0,\n  \"step_period_s\": 25.2,",
           "\"step\": 3,\n      \"start_sample\": 3139200,\n      \"samples\": 1209600,",
           "\"failed\": 0,\n  \"causes\": [],",
           "\"trust_ratio\": \"NaN\",\n    \"trust_limit\": 0.04,",
           "\"total_delay_ms\": 257.1875,\n    \"aligned\": \"head\",",
       }) {
    EXPECT_NE(j.find(part), std::string::npos) << part << "\n" << j;
  }
}

// The causes the library adds to lumetra's: each with its sentence and the
// figures of the case, in the table; the step quality in the JSON document.
TEST(GainReport, QuestionableStepsAndTheDriftAreExplainedWithTheirFigures) {
  struct Case {
    int verdict;
    std::uint32_t causes;           // verdict_causes
    std::vector<std::string> says;  // in the table
  };
  const Case cases[] = {
      {AM_VERDICT_NOT_TRUSTED,
       1u << AM_CAUSE_PEAK_NOT_PROMINENT | 1u << AM_CAUSE_CLOCK_DRIFT,
       {"result     NOT TRUSTED (failed = 1):\n  - ",
        "smears the correlation peak: converting the recording by the drift (drift correction) "
        "lets it align (drift +100.3 ppm; --drift-correct converts it)\n",
        "  clock drift        +100.300 ppm (not corrected)\n"}},
      {AM_VERDICT_NOT_TRUSTED,
       1u << AM_CAUSE_NOT_LAGGING | 1u << AM_CAUSE_SILENT_REFERENCE |
           1u << AM_CAUSE_SILENT_RECORDING,
       {"  - the reference's 15 s opening is silent",
        "  - the recording's 15 s opening is silent"}},
      {AM_VERDICT_QUESTIONABLE,
       1u << AM_CAUSE_NOISE_DISTORTION | 1u << AM_CAUSE_CLIPPING | 1u << AM_CAUSE_UNSTEADY,
       {"result     QUESTIONABLE (failed = 0):\n",
        "come near the step's level (step 3: -10.0 dB, mostly a DC offset of -11.5 dB; step 5: "
        "-12.0 dB; limit -16 dB re the step's level)\n",
        "at or beyond full scale (step 5: 1234 samples; limit 0)\n",
        "spread more than the reference's own (step 9: spread 8.00 dB, 7.75 dB above the "
        "reference's; limit 1 dB above)\n",
        "   3 !       -10.00     -11.50     +0.125          0  noise_distortion\n",
        "   5 !       -12.00     -40.00     +0.125       1234  noise_distortion, clipping\n",
        "   9 !       -60.00    -100.00     +7.750          0  unsteady\n"}},
  };
  for (const Case& c : cases) {
    cli::GainModel m = made_up(c.causes & 0x1F8u);
    am_gain_options_init(&m.options);
    am_gain_report& r = m.report;
    r.verdict = c.verdict;
    r.verdict_causes = c.causes;
    r.drift_ppm = 100.3;
    for (int k = 0; k < AM_STEPS; ++k) {
      r.noise_distortion_db[k] = -60.0;
      r.dc_offset_db[k] = -100.0;
      r.spread_excess_db[k] = 0.125;
    }
    if (c.verdict == AM_VERDICT_QUESTIONABLE) {
      r.noise_distortion_db[2] = -10.0;
      r.dc_offset_db[2] = -11.5;  // within 3 dB of it: mostly the offset
      r.noise_distortion_db[4] = -12.0;
      r.dc_offset_db[4] = -40.0;
      r.clipped_samples[4] = 1234;
      r.step_range[8] = 8.0;
      r.spread_excess_db[8] = 7.75;
      r.step_questionable[2] = 1u << AM_CAUSE_NOISE_DISTORTION;
      r.step_questionable[4] = 1u << AM_CAUSE_NOISE_DISTORTION | 1u << AM_CAUSE_CLIPPING;
      r.step_questionable[8] = 1u << AM_CAUSE_UNSTEADY;
      r.questionable_steps = 1u << 2 | 1u << 4 | 1u << 8;
    }
    const std::string t = cli::gain_table(m);
    for (const std::string& part : c.says) {
      EXPECT_TRUE(tools_test::has(t, part)) << part << "\n" << t;
    }
  }
  cli::GainModel m = made_up(0);
  am_gain_options_init(&m.options);
  m.report.clipped_samples[4] = 1234;
  m.report.step_questionable[4] = 1u << AM_CAUSE_CLIPPING;
  m.report.questionable_steps = 1u << 4;
  m.report.drift_ppm = 100.3;
  m.report.drift_corrected = 1;
  m.report.recording_length = 12877637;
  const std::string j = cli::gain_json(m);
  for (const char* part : {
           "\"coverage\": 1,\n      \"noise_distortion_db\": \"NaN\",\n      \"dc_offset_db\": "
           "\"NaN\",\n      \"spread_excess_db\": \"NaN\",\n      \"clipped_samples\": 1234,\n     "
           " "
           "\"questionable\": [\n        \"clipping\"\n      ]\n    }",
           "\"step_period_warning\": null,\n  \"questionable_steps\": [\n    5\n  ],\n  "
           "\"quality_limits\": {\n    \"max_noise_distortion_db\": -16,\n    "
           "\"max_spread_excess_db\": 1,\n    \"max_clipped_samples\": 0\n  },\n  \"drift_ppm\": "
           "100.3,\n  \"drift_corrected\": true",
       }) {
    EXPECT_TRUE(tools_test::has(j, part)) << part << "\n" << j;
  }
  const std::string t = cli::gain_table(m);
  for (const char* part : {
           "TRUNCATED: shorter than its header announces, converted by its clock drift (+100.300 "
           "ppm) to 12877637 samples\n",
           "  clock drift        +100.300 ppm: the recording was converted by it before it was "
           "measured (--drift-correct)\n",
           "not fixed to the last bit\n",
       }) {
    EXPECT_TRUE(tools_test::has(t, part)) << part << "\n" << t;
  }
}

// The warning about the step period, with the figures behind it (the
// table's line; stderr and the JSON document carry the same text).
TEST(GainReport, StepPeriodWarnings) {
  struct Case {
    int period, warning;
    double fitting, spreads[2];  // NaN: none, not held
    const char* warns;
  };
  const Case cases[] = {
      {AM_PERIOD_25_2,
       AM_PERIOD_WARNING_NO_CLEAR_FIT,
       kNaN,
       {12.0412, 19.5412},
       "the reference's steps fit neither step period clearly (median step spread 12.041 dB at "
       "25.2 s, 19.541 dB at 24.7 s; steady is at most 1 dB, ruled out at least 3 dB): measured "
       "with 25.2 s steps; give --step-period if that is wrong\n"},
      {AM_PERIOD_24_7,
       AM_PERIOD_WARNING_NO_CLEAR_FIT,
       kNaN,
       {kNaN, 12.04},
       "(median step spread too short for 25.2 s, 12.040 dB at 24.7 s; steady"},
      {AM_PERIOD_24_7,
       AM_PERIOD_WARNING_CONTRADICTED,
       25.2,
       {0.0, 7.5},
       "the reference's steps fit 25.2 s steps, not the 24.7 s given (median step spread 0.000 "
       "dB at 25.2 s, 7.500 dB at 24.7 s): the steps measured straddle the reference's; "
       "--step-period 25.2 (or auto) measures it as it is laid out\n"},
  };
  for (const Case& c : cases) {
    cli::GainModel m = made_up(0);
    am_gain_report& r = m.report;
    r.step_period = c.period;
    r.step_period_s = c.period == AM_PERIOD_25_2 ? 25.2 : 24.7;
    r.step_period_warning = c.warning;
    r.fitting_period_s = c.fitting;
    for (int i = 0; i < 2; ++i) {
      r.median_step_spread_db[i] = c.spreads[i];
      r.layout_held[i] = std::isnan(c.spreads[i]) ? 0 : 1;
    }
    const std::string t = cli::gain_table(m);
    EXPECT_TRUE(tools_test::has(t, std::string(c.warns))) << t;
    EXPECT_TRUE(tools_test::has(t, "\nwarning    " + cli::period_warning(m) + "\n")) << t;
  }
}

// --- The chart ----------------------------------------------------------------------

cli::StepChart chart() {
  cli::StepChart c;
  c.title = "steps of <a & b>";
  c.notes = {"reference: \"ref\".wav", "recording: caf\xe9.wav"};  // a path in Latin-1
  c.verdict = "trusted";
  c.reference.name = "reference";
  c.recording.name = "recording";
  for (int k = 0; k < cli::kChartSteps; ++k) {
    c.reference.level[k] = -6.0 * k;
    c.reference.spread[k] = 0.5;
    c.recording.level[k] = -6.0 * k + 1.0;
    c.recording.spread[k] = 2.0;
    c.gain[k] = 1.0;
  }
  return c;
}

std::size_t count(const std::string& s, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) {
    ++n;
  }
  return n;
}

TEST(Chart, HoldsElevenStepsOfBothSeries) {
  const std::string svg = cli::step_chart_svg(chart());
  EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
  EXPECT_NE(svg.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  EXPECT_EQ(count(svg, "<circle"), 11u + 1u);  // 11 reference points and the legend's
  EXPECT_EQ(count(svg, "<rect x="), 11u + 1u);
  EXPECT_EQ(count(svg, ">+1.00</text>"), 11u);
  EXPECT_EQ(count(svg, "<text"), count(svg, "</text>"));
  EXPECT_NE(svg.find("steps of &lt;a &amp; b&gt;"), std::string::npos);
  EXPECT_NE(svg.find("&quot;ref&quot;.wav"), std::string::npos);
  EXPECT_NE(svg.find("caf\xef\xbf\xbd.wav"), std::string::npos);
  EXPECT_EQ(cli::valid_utf8(svg), svg);
  EXPECT_EQ(svg.find("<script"), std::string::npos);
  EXPECT_EQ(svg.find("href"), std::string::npos);
}

// A questionable step's slot is shaded with its causes under its number;
// the gain limits are bands of allowed levels, an open side reaching the
// plot's edge; a gain outside them is red. Neither is in the legend of a
// chart without them (the test above).
TEST(Chart, QuestionableStepsAndLimitBandsAreMarked) {
  cli::StepChart c = chart();
  c.questionable[2] = "noise_distortion, clipping";
  for (int k = 0; k < cli::kChartSteps; ++k) {
    c.band_low[k] = c.reference.level[k] - 4.0;
    c.band_high[k] = k == 10 ? kNaN : c.reference.level[k] + 4.0;
  }
  c.gain_failed[8] = true;
  const std::string svg = cli::step_chart_svg(c);
  EXPECT_EQ(count(svg, "fill=\"#fbe3b4\""), 1u + 1u);  // the slot and the legend's
  for (const char* word : {">noise</text>", ">distortion</text>", ">clipping</text>",
                           ">questionable step</text>", ">levels the gain limits allow</text>"}) {
    EXPECT_EQ(count(svg, word), 1u) << word;
  }
  EXPECT_EQ(count(svg, "stroke-dasharray"), 11u + 1u);
  EXPECT_EQ(count(svg, "y=\"150.0\" width=\"24\""), 1u);  // step 11's band reaches the top
  EXPECT_EQ(count(svg, "fill=\"#bb2222\" font-weight=\"bold\">+1.00</text>"), 1u);
  EXPECT_EQ(count(svg, "<text"), count(svg, "</text>"));
  const std::string plain = cli::step_chart_svg(chart());
  EXPECT_EQ(count(plain, "stroke-dasharray") + count(plain, "#fbe3b4"), 0u);
}

TEST(Chart, NonFiniteValuesStayOffTheAxis) {
  cli::StepChart c = chart();
  c.recording.level = {-kInf, kNaN, kInf, -5.0, -5.0, -5.0, -5.0, -5.0, -5.0, -5.0, -5.0};
  c.recording.spread = {kInf, -120.0, kNaN, kInf, -120.0, kNaN, 1.0, 1.0, 1.0, 1.0, 1.0};
  c.gain[0] = -kInf;
  c.trusted = false;
  const std::string svg = cli::step_chart_svg(c);
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf\""), std::string::npos);
  EXPECT_EQ(count(svg, ">-Inf</text>"), 1u);
  EXPECT_EQ(count(svg, ">NaN</text>"), 1u);
  EXPECT_EQ(count(svg, ">+Inf</text>"), 1u);
  EXPECT_EQ(count(svg, ">n/a</text>"), 1u);  // the gain of step 1
  EXPECT_EQ(count(svg, "<rect x="), 8u + 1u);

  // Nothing finite at all: the axis still has a range.
  for (int k = 0; k < cli::kChartSteps; ++k) {
    c.reference.level[k] = kNaN;
    c.recording.level[k] = -kInf;
  }
  const std::string empty = cli::step_chart_svg(c);
  EXPECT_EQ(empty.find("nan"), std::string::npos);
  EXPECT_NE(empty.find(">-60</text>"), std::string::npos);
}

}  // namespace
