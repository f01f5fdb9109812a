// lumetra-measure's command line: help, usage errors, the files it refuses
// and the outputs it cannot write, each with its exit status and one line of
// explanation, all before the estimation runs. (Measurements of real files
// run the program itself: tools_test.py.)
#include <gtest/gtest.h>

#include "cli/lumetra_measure.h"
#include "cli/options.h"
#include "tools/tool_support.h"

namespace {

using tools_test::Ran;
using tools_test::Scratch;

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int kReferenceSamples = 12816000;  // the opening and 10 steps of 25.2 s

Ran measure(const std::vector<std::string>& args) {
  return tools_test::run(cli::lumetra_measure, args);
}

// A refusal: the status, nothing on stdout, one line on stderr that starts
// with the program's name and says `says`.
void expect_refused(const Ran& r, int status, const std::string& says) {
  EXPECT_EQ(r.status, status) << r.err;
  EXPECT_EQ(r.out, "");
  const std::vector<std::string> lines = tools_test::lines(r.err);
  ASSERT_EQ(lines.size(), 1u) << r.err;
  EXPECT_EQ(lines[0].rfind("lumetra-measure: ", 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(says), std::string::npos) << lines[0];
}

TEST(LumetraMeasure, HelpStatesTheScaleAndTheStatuses) {
  const Ran r = measure({"--help"});
  EXPECT_EQ(r.status, cli::kExitTrusted);
  EXPECT_EQ(r.err, "");
  for (const char* part : {"Usage: lumetra-measure REFERENCE RECORDING", "--step-period 25.2|24.7",
                           "--channel N", "--json", "--plot FILE.svg", "--make-demo DIR",
                           "16-bit\nPCM samples are taken as their integer values",
                           "n / 2^(B-1) * 32767", "x * 32767", "Exit status: 0"}) {
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
      {{}, "needs two files, REFERENCE and RECORDING (0 given)"},
      {{"a.wav"}, "(1 given)"},
      {{"a.wav", "b.wav", "c.wav"}, "(3 given)"},
      {{"a.wav", "b.wav", "--step-period", "25"}, "--step-period is 25.2 or 24.7, not '25'"},
      {{"a.wav", "b.wav", "--step-period=25.20"}, "not '25.20'"},
      {{"a.wav", "b.wav", "--channel", "0"}, "--channel takes a channel number from 1 up"},
      {{"a.wav", "b.wav", "--plot"}, "--plot needs a value"},
      {{"a.wav", "b.wav", "--plot="}, "--plot needs a file name"},
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
       path("rate.wav") + ": sample rate 44100 Hz; lumetra measures 48000 Hz only"},
      {{path("long.wav"), path("rate.wav")}, "sample rate 44100 Hz"},
      {{path("span.wav"), path("span.wav")},
       "720000 samples (15.000 s); a reference with 25.2 s steps needs at least 12816000 "
       "(267.000 s)"},
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

TEST_F(Files, OutputsThatCannotBeWritten) {
  // The chart is opened before the estimation, which therefore never runs.
  expect_refused(measure({path("long.wav"), path("long.wav"), "--plot", path("no/folder/x.svg")}),
                 cli::kExitOutput, "no/folder/x.svg: cannot write it");
  expect_refused(measure({"--make-demo", path("text.wav") + "/demo"}), cli::kExitOutput,
                 "cannot make the folder");
}

}  // namespace
