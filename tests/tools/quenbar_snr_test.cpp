// quenbar-snr in-process: the demonstration files measured, the reports, the
// refusals and their exit statuses.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "audiomeasure.h"
#include "common/command_line.h"
#include "common/json.h"
#include "common/sample_source.h"
#include "quenbar-snr/quenbar_snr.h"
#include "tools/tool_support.h"

namespace {

using tools_test::Ran;
using tools_test::Scratch;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

Ran snr(const std::vector<std::string>& args) {
  return tools_test::run(cli::quenbar_snr, args);
}

void expect_refused(const Ran& r, int status, const std::string& says) {
  tools_test::expect_refused(r, "quenbar-snr", status, says);
}

using tools_test::has;

// The library's report on two files, read as the tool reads them.
am_snr_report library_report(const std::string& gate, const std::string& measured) {
  const cli::Audio g = cli::read_channel(gate, 0);
  const cli::Audio m = cli::read_channel(measured, 0);
  am_snr_report r;
  am_snr_report_init(&r);
  EXPECT_EQ(am_snr_measure(g.samples.data(), static_cast<std::int64_t>(g.samples.size()),
                           m.samples.data(), static_cast<std::int64_t>(m.samples.size()),
                           g.info.rate, nullptr, &r),
            AM_OK);
  return r;
}

class QuenbarSnr : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scratch_ = new Scratch;
    const Ran demo = snr({"--make-demo", path("")});
    ASSERT_EQ(demo.status, cli::kExitTrusted) << demo.err;
    const cli::Audio g = cli::read_channel(path("gate.wav"), 0);
    const cli::Audio m = cli::read_channel(path("measured.wav"), 0);
    std::vector<short> stereo;
    for (std::size_t i = 0; i < g.samples.size(); ++i) {
      stereo.push_back(static_cast<short>(g.samples[i]));
      stereo.push_back(static_cast<short>(m.samples[i]));
    }
    tools_test::write_shorts(path("both.wav"), kWav16, 48000, 2, stereo);
    tools_test::write_shorts(path("silent.wav"), kWav16, 48000, 1,
                             std::vector<short>(g.samples.size(), 0));
    // The measured signal 10 ms late; the gate and the measured signal as
    // floats with a non-finite sample each.
    std::vector<short> late(480, 0);
    for (const double v : m.samples) {
      late.push_back(static_cast<short>(v));
    }
    tools_test::write_shorts(path("late.wav"), kWav16, 48000, 1, late);
    const auto floats = [](const std::vector<double>& x, std::size_t at, float v) {
      std::vector<float> f(x.begin(), x.end());
      for (float& y : f) {
        y /= 32768.0f;
      }
      f[at] = v;
      return f;
    };
    constexpr int kFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    tools_test::write_floats(path("gate_inf.wav"), kFloat, 48000, 1,
                             floats(g.samples, 100000, std::numeric_limits<float>::infinity()));
    tools_test::write_floats(path("gate_nan.wav"), kFloat, 48000, 1,
                             floats(g.samples, 200000, std::numeric_limits<float>::quiet_NaN()));
    tools_test::write_floats(path("measured_nan.wav"), kFloat, 48000, 1,
                             floats(m.samples, 300000, std::numeric_limits<float>::quiet_NaN()));
    tools_test::write_shorts(path("rate.wav"), kWav16, 44100, 1, std::vector<short>(4410, 0));
    tools_test::write_shorts(path("slow.wav"), kWav16, 199, 1, std::vector<short>(1000, 0));
    tools_test::write_shorts(path("frame.wav"), kWav16, 48000, 1, std::vector<short>(239, 0));
    tools_test::write_shorts(path("tenth.wav"), kWav16, 48000, 1, std::vector<short>(4800, 0));
  }
  static void TearDownTestSuite() {
    delete scratch_;
    scratch_ = nullptr;
  }
  static std::string path(const std::string& name) { return scratch_->path(name); }

 private:
  static Scratch* scratch_;
};
Scratch* QuenbarSnr::scratch_ = nullptr;

TEST_F(QuenbarSnr, MeasuresTheDemonstrationFiles) {
  const Ran table = snr({path("gate.wav"), path("measured.wav")});
  EXPECT_EQ(table.status, cli::kExitTrusted) << table.err;
  EXPECT_EQ(table.err, "");
  const am_snr_report e = library_report(path("gate.wav"), path("measured.wav"));
  EXPECT_NEAR(e.snr_db, 20.0, 0.2);
  char line[64];
  std::snprintf(line, sizeof(line), "SNR             %.3f dB\n", e.snr_db);
  EXPECT_TRUE(has(table.out, line)) << table.out;
  EXPECT_TRUE(has(table.out, "frames          4000 of 240 samples (5 ms at 48000 Hz)"));
  EXPECT_TRUE(has(table.out, "result          finite\n"));

  const Ran json = snr({"--json", path("gate.wav"), path("measured.wav")});
  EXPECT_EQ(json.status, cli::kExitTrusted);
  EXPECT_TRUE(has(json.out, "\"snr_db\": " + cli::shortest(e.snr_db) + ",\n"));
  EXPECT_TRUE(has(json.out, "\"active_frames\": " + cli::shortest(e.active_frames) + ","));
  EXPECT_TRUE(has(json.out, "\"noise_power_db\": " + cli::shortest(e.noise_power_db)));

  // The same signals as the two channels of one file.
  const Ran first = snr({"--json", "--channel", "1", path("gate.wav"), path("both.wav")});
  const Ran second = snr({"--json", "--channel=2", path("gate.wav"), path("both.wav")});
  const am_snr_report self = library_report(path("gate.wav"), path("gate.wav"));
  EXPECT_TRUE(has(first.out, "\"snr_db\": " + cli::shortest(self.snr_db) + ",\n"));
  EXPECT_NE(self.snr_db, e.snr_db);
  EXPECT_EQ(second.status, cli::kExitTrusted);
  EXPECT_TRUE(has(second.out, "\"snr_db\": " + cli::shortest(e.snr_db) + ",\n"));
}

TEST_F(QuenbarSnr, VerdictsReasonsAndTheLag) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> says;  // in the --json document
    std::string warns;              // on stderr; "" for nothing
  };
  const std::string gate = path("gate.wav");
  const std::string measured = path("measured.wav");
  const std::string none = "\"non_finite_sample\": null";
  const auto found = [](const char* file, const std::string& file_path, int position) {
    return "\"non_finite_sample\": {\n    \"file\": \"" + std::string(file) +
           "\",\n    \"path\": \"" + file_path +
           "\",\n    \"position\": " + std::to_string(position) + ",";
  };
  const std::string lag0 = "\"lag\": {\n    \"samples\": 0,\n    \"ms\": 0,";
  const Case cases[] = {
      {{gate, measured}, cli::kExitTrusted, {"\"verdict\": \"finite\"", none, lag0}, ""},
      {{path("gate_inf.wav"), measured},
       cli::kExitNotTrusted,
       {"\"verdict\": \"non_finite_samples\"", found("gate", path("gate_inf.wav"), 100000)},
       ""},
      {{path("gate_nan.wav"), measured},
       cli::kExitNotTrusted,
       {"\"verdict\": \"non_finite_samples\"", found("gate", path("gate_nan.wav"), 200000)},
       ""},
      {{gate, path("measured_nan.wav")},
       cli::kExitNotTrusted,
       {"\"reason\": \"non_finite_samples\"", found("measured", path("measured_nan.wav"), 300000)},
       ""},
      {{gate, path("silent.wav")},
       cli::kExitNotTrusted,
       {"\"reason\": \"silent_measured\"", "\"verdict\": \"not_finite\""},
       ""},
      {{path("silent.wav"), measured},
       cli::kExitNotTrusted,
       {"\"snr_db\": \"NaN\",\n", "\"reason\": \"no_active_frame\"", "\"activity_factor\": 0,"},
       ""},
      {{gate, path("late.wav")},
       cli::kExitTrusted,
       {"\"samples\": 480,\n    \"ms\": 10,", "\"aligned\": false,"},
       "quenbar-snr: warning: " + path("late.wav") + " lags " + gate +
           " by 480 samples (10.000 ms)"},
      {{gate, path("late.wav"), "--align"},
       cli::kExitTrusted,
       {"\"samples\": 480,\n    \"ms\": 10,",
        "\"aligned\": true,\n    \"gate_first_sample\": 0,\n    \"measured_first_sample\": "
        "480,\n    \"prominence\": ",
        "\"reliable\": true\n  },"},
       ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const Ran r = snr(args);
    EXPECT_EQ(r.status, c.status) << c.args[1] << r.err;
    for (const std::string& part : c.says) {
      EXPECT_TRUE(has(r.out, part)) << part << "\n" << r.out;
    }
    if (c.warns.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(tools_test::lines(r.err).size(), 1u) << r.err;
      EXPECT_TRUE(has(r.err, c.warns)) << r.err;
    }
  }
  const std::string silent = snr({path("silent.wav"), measured}).out;
  EXPECT_TRUE(has(silent, "SNR             NaN dB\n") &&
              has(silent, "result          NaN: no frame of the gate is active"))
      << silent;
  // Aligned, the late copy gives the demonstration's SNR: 20 dB.
  const am_snr_report e = library_report(gate, measured);
  EXPECT_TRUE(has(snr({gate, path("late.wav"), "--align"}).out,
                  "aligned by it (--align): gate from sample 0, measured from sample 480"));
  const Ran aligned = snr({gate, path("late.wav"), "--align", "--json"});
  EXPECT_TRUE(has(aligned.out, "\"snr_db\": " + cli::shortest(e.snr_db) + ",")) << aligned.out;
}

TEST_F(QuenbarSnr, RefusesWhatItCannotMeasure) {
  struct Case {
    std::vector<std::string> args;
    std::string says;
    int status;
  };
  const Case cases[] = {
      {{path("gate.wav"), path("rate.wav")},
       "gate.wav is at 48000 Hz but " + path("rate.wav") + " at 44100 Hz; both must have one rate",
       cli::kExitInput},
      {{path("slow.wav"), path("slow.wav")},
       "sample rate 199 Hz; a 5 ms frame needs at least 200",
       cli::kExitInput},
      {{path("frame.wav"), path("measured.wav")},
       "239 samples, fewer than one 5 ms frame (240 at 48000 Hz)",
       cli::kExitInput},
      {{path("gate.wav"), path("tenth.wav")},
       "tenth.wav: 4800 samples; the gate's 4000 whole frames need 960000",
       cli::kExitInput},
      {{path("gate.wav"), path("both.wav")}, "has 2 channels", cli::kExitInput},
      {{path("gate.wav")},
       "needs GATE and at least one MEASURED file (files given: 1)",
       cli::kExitUsage},
      {{path("gate.wav"), path("measured.wav"), path("measured.wav"), "--json"},
       "--json prints one file's document (2 files given)",
       cli::kExitUsage},
      {{path("gate.wav"), path("measured.wav"), "--jobs", "0"},
       "--jobs takes a number of worker processes from 1 up, not '0'",
       cli::kExitUsage},
      {{path("gate.wav"), path("measured.wav"), "--plot", "x.svg"},
       "unknown option --plot",
       cli::kExitUsage},
      {{"-", "-"}, "- (standard input) is given more than once", cli::kExitUsage},
      {{"--make-demo", path("gate.wav") + "/x"}, "cannot make the folder", cli::kExitOutput},
  };
  for (const Case& c : cases) {
    expect_refused(snr(c.args), c.status, c.says);
  }
  expect_refused(tools_test::run(cli::quenbar_snr, {"--help"}, "/dev/full"), cli::kExitOutput,
                 "cannot write the output to stdout: No space left on device");
  const Ran help = snr({"--help"});
  EXPECT_EQ(help.status, cli::kExitTrusted);
  EXPECT_TRUE(has(help.out,
                  "Exit status: 0 a finite SNR (inside its limits); 1 retest: an SNR "
                  "that is\nNaN or infinite"));
  EXPECT_TRUE(has(help.out, "6 reject"));
  EXPECT_TRUE(has(help.out, "16-bit\nPCM samples are taken as their integer values"));
}

}  // namespace
