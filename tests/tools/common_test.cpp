// The pieces of the command-line tools: reading audio files onto the 16-bit
// scale, the JSON writer, the command-line parser, batches, limits and the
// report files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <set>

#include "common/batch.h"
#include "common/command_line.h"
#include "common/csv.h"
#include "common/html_report.h"
#include "common/json.h"
#include "common/junit.h"
#include "common/limits.h"
#include "common/markup.h"
#include "common/output_file.h"
#include "common/resample.h"
#include "common/sample_source.h"
#include "common/utf8.h"
#include "tools/tool_support.h"

namespace {

using tools_test::Scratch;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kWav = SF_FORMAT_WAV;

std::uint64_t bits(double v) {
  return std::bit_cast<std::uint64_t>(v);
}

// --- Reading audio files ---------------------------------------------------------

TEST(AudioFile, SixteenBitPcmReadsAsIntegers) {
  Scratch s;
  const std::vector<short> v = {-32768, -12345, -1, 0, 1, 255, 32767};
  tools_test::write_shorts(s.path("a.wav"), kWav | SF_FORMAT_PCM_16, 48000, 1, v);
  const cli::Audio a = cli::read_channel(s.path("a.wav"), 0);
  ASSERT_EQ(a.samples.size(), v.size());
  for (std::size_t i = 0; i < v.size(); ++i) {
    EXPECT_EQ(bits(a.samples[i]), bits(static_cast<double>(v[i]))) << i;
  }
  EXPECT_EQ(a.info.scale, cli::Scale::kInteger16);
  EXPECT_EQ(a.info.encoding, "16-bit PCM");
  EXPECT_EQ(a.info.rate, 48000);
  EXPECT_EQ(a.info.channels, 1);
  EXPECT_EQ(a.info.channel, 1);
  EXPECT_EQ(a.info.frames, static_cast<std::int64_t>(v.size()));
  EXPECT_FALSE(a.info.truncated);
}

// Every other PCM width: the integer n of B bits becomes (n / 2^(B-1)) * 32767,
// the quotient exact and the product rounded once.
TEST(AudioFile, OtherPcmWidthsScaleFullScaleTo32767) {
  struct Case {
    int format;
    int bits;
    const char* encoding;
  };
  const Case cases[] = {
      {kWav | SF_FORMAT_PCM_U8, 8, "8-bit PCM (unsigned)"},
      {SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 8, "8-bit PCM (signed)"},
      {kWav | SF_FORMAT_PCM_24, 24, "24-bit PCM"},
      {kWav | SF_FORMAT_PCM_32, 32, "32-bit PCM"},
  };
  std::mt19937_64 random(5);
  for (const Case& c : cases) {
    const std::int64_t top = (std::int64_t{1} << (c.bits - 1)) - 1;
    std::vector<std::int64_t> n = {-(top + 1), -top, -1, 0, 1, top / 3, top};
    // An even count: AIFF pads an odd 8-bit chunk with a byte that reads
    // back as one more sample.
    for (int k = 0; k < 51; ++k) {
      n.push_back(static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(2 * top + 1)) -
                  top);
    }
    // libsndfile takes ints left-justified in 32 bits.
    std::vector<int> items;
    for (std::int64_t x : n) {
      items.push_back(static_cast<int>(x * (std::int64_t{1} << (32 - c.bits))));
    }
    Scratch s;
    tools_test::write_ints(s.path("a"), c.format, 48000, 1, items);
    const cli::Audio a = cli::read_channel(s.path("a"), 0);
    ASSERT_EQ(a.samples.size(), n.size()) << c.encoding;
    EXPECT_EQ(a.info.scale, cli::Scale::kNormalised);
    EXPECT_EQ(a.info.encoding, c.encoding);
    const double unit = std::ldexp(1.0, -(c.bits - 1));
    for (std::size_t i = 0; i < n.size(); ++i) {
      const double want = (static_cast<double>(n[i]) * unit) * 32767.0;
      EXPECT_EQ(bits(a.samples[i]), bits(want)) << c.encoding << " n = " << n[i];
    }
    EXPECT_EQ(a.samples[0], -32767.0) << c.encoding << ": negative full scale";
  }
}

// Float data: x * 32767, rounded once, whatever x is.
TEST(AudioFile, FloatDataScalesOneTo32767) {
  const std::vector<double> x = {-1.0, -0.5, 0.0, 1e-30, 0.1, 0.999, 1.0, 2.0, -3.5, kInf, kNaN};
  Scratch s;
  std::vector<float> f;
  for (double v : x) {
    f.push_back(static_cast<float>(v));
  }
  tools_test::write_floats(s.path("f.wav"), kWav | SF_FORMAT_FLOAT, 48000, 1, f);
  tools_test::write_doubles(s.path("d.wav"), kWav | SF_FORMAT_DOUBLE, 48000, 1, x);
  const cli::Audio af = cli::read_channel(s.path("f.wav"), 0);
  const cli::Audio ad = cli::read_channel(s.path("d.wav"), 0);
  EXPECT_EQ(af.info.encoding, "32-bit float");
  EXPECT_EQ(ad.info.encoding, "64-bit float");
  ASSERT_EQ(af.samples.size(), x.size());
  ASSERT_EQ(ad.samples.size(), x.size());
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double from_float = static_cast<double>(f[i]) * 32767.0;
    const double from_double = x[i] * 32767.0;
    if (std::isnan(x[i])) {
      EXPECT_TRUE(std::isnan(af.samples[i]));
      EXPECT_TRUE(std::isnan(ad.samples[i]));
    } else {
      EXPECT_EQ(bits(af.samples[i]), bits(from_float)) << x[i];
      EXPECT_EQ(bits(ad.samples[i]), bits(from_double)) << x[i];
    }
  }
  EXPECT_EQ(ad.samples[6], 32767.0);
  EXPECT_EQ(ad.samples[7], 65534.0);
}

TEST(AudioFile, ChannelsAreChosenFromOne) {
  Scratch s;
  // Three channels: 10k + channel, k the frame.
  std::vector<short> items;
  for (short k = 0; k < 5; ++k) {
    for (short c = 1; c <= 3; ++c) {
      items.push_back(static_cast<short>(10 * k + c));
    }
  }
  tools_test::write_shorts(s.path("c.wav"), kWav | SF_FORMAT_PCM_16, 8000, 3, items);
  for (int c = 1; c <= 3; ++c) {
    const cli::Audio a = cli::read_channel(s.path("c.wav"), c);
    ASSERT_EQ(a.samples.size(), 5u);
    EXPECT_EQ(a.info.channel, c);
    EXPECT_EQ(a.info.channels, 3);
    for (int k = 0; k < 5; ++k) {
      EXPECT_EQ(a.samples[static_cast<std::size_t>(k)], 10.0 * k + c);
    }
  }
  try {
    cli::read_channel(s.path("c.wav"), 0);
    ADD_FAILURE() << "a file of several channels needs --channel";
  } catch (const cli::InputError& e) {
    EXPECT_NE(std::string(e.what()).find("has 3 channels; choose one with --channel N (1 to 3)"),
              std::string::npos)
        << e.what();
  }
  EXPECT_THROW(cli::read_channel(s.path("c.wav"), 4), cli::InputError);

  // A mono file is read whatever the channel asked for.
  tools_test::write_shorts(s.path("m.wav"), kWav | SF_FORMAT_PCM_16, 8000, 1, {7, 8});
  const cli::Audio m = cli::read_channel(s.path("m.wav"), 2);
  EXPECT_EQ(m.info.channel, 1);
  EXPECT_EQ(m.samples, (std::vector<double>{7.0, 8.0}));
}

// Files that cannot be measured: one line naming the file and the trouble.
TEST(AudioFile, UnreadableFilesAreRefusedWithTheirReason) {
  Scratch s;
  tools_test::write_shorts(s.path("empty.wav"), kWav | SF_FORMAT_PCM_16, 48000, 1, {});
  tools_test::write_shorts(s.path("good.wav"), kWav | SF_FORMAT_PCM_16, 48000, 1,
                           std::vector<short>(1000, 5));
  std::ifstream good(s.path("good.wav"), std::ios::binary);
  const std::string header(44, '\0');
  std::string bytes((std::istreambuf_iterator<char>(good)), std::istreambuf_iterator<char>());
  tools_test::write_bytes(s.path("header.wav"), bytes.substr(0, 20));
  tools_test::write_bytes(s.path("riff_only.wav"), bytes.substr(0, 12));
  tools_test::write_bytes(s.path("zero_bytes.wav"), "");
  tools_test::write_bytes(s.path("text.wav"), "not audio at all, just some words\n");
  std::string zero_hz = bytes;
  zero_hz.replace(24, 8, 8, '\0');  // sample rate and byte rate
  tools_test::write_bytes(s.path("zero_hz.wav"), zero_hz);
  tools_test::write_shorts(s.path("good.caf"), SF_FORMAT_CAF | SF_FORMAT_PCM_16, 48000, 1,
                           std::vector<short>(1000, 5));
  std::ifstream caf(s.path("good.caf"), std::ios::binary);
  const std::string caf_bytes((std::istreambuf_iterator<char>(caf)),
                              std::istreambuf_iterator<char>());
  tools_test::write_bytes(s.path("header.caf"), caf_bytes.substr(0, caf_bytes.size() - 1999));
  tools_test::write_bytes(s.path("header_only.wav"), bytes.substr(0, 44));
  ASSERT_EQ(mkfifo(s.path("pipe.wav").c_str(), 0600), 0);  // no writer: opening it would block
  struct Case {
    std::string path;
    const char* says;
  };
  const Case cases[] = {
      {s.path("empty.wav"), "holds no samples"},
      {s.path("header.wav"), "cannot read it as audio"},
      {s.path("riff_only.wav"), "cannot read it as audio"},
      {s.path("zero_bytes.wav"), "cannot read it as audio"},
      {s.path("text.wav"), "cannot read it as audio"},
      {s.path("missing.wav"), "No such file or directory"},
      {s.path(""), "is a folder, not an audio file"},
      {s.path("pipe.wav"), "is not a regular file (a pipe, device or socket)"},
      {s.path("zero_hz.wav"), "the header gives a sample rate of 0 Hz"},
      {s.path("header.caf"), "holds none of the 1000 frames its header announces (cut short?)"},
      {s.path("header_only.wav"), "holds no samples, where its header announces some (cut short?)"},
  };
  for (const Case& c : cases) {
    try {
      cli::read_channel(c.path, 0);
      ADD_FAILURE() << c.path << " was read";
    } catch (const cli::InputError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(c.path + ": ", 0), 0u) << what;
      EXPECT_NE(what.find(c.says), std::string::npos) << what;
      EXPECT_EQ(what.find('\n'), std::string::npos) << what;
    }
  }
}

// A file that ends before its header's length, in every container:
// measured as far as it goes and marked truncated. libsndfile gives a cut
// PCM file the frames it holds (from the bytes after the header) and says
// so in its log; a cut FLAC or CAF file keeps its header's count and shows
// it at its end (a CAF file only when opened as longer than it is).
TEST(AudioFile, CutShortFilesAreReadAsFarAsTheyGo) {
  struct Case {
    const char* name;
    int format;
    bool pcm;                // the bytes after the header are the samples, 2 each
    int percent;             // of the file's bytes kept
    std::size_t unread = 0;  // of the samples held, which libsndfile leaves at the end
  };
  const Case cases[] = {
      {"a.wav", kWav | SF_FORMAT_PCM_16, true, 60},
      {"a.wavex", SF_FORMAT_WAVEX | SF_FORMAT_PCM_16, true, 60},
      {"a.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, true, 60},
      {"a.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, true, 60},
      {"a.w64", SF_FORMAT_W64 | SF_FORMAT_PCM_16, true, 60},
      {"a.rf64", SF_FORMAT_RF64 | SF_FORMAT_PCM_16, true, 60},
      // libsndfile refuses the first (its data chunk is longer than the
      // whole file) and reads the second 8 bytes short, as it always has.
      {"a.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, true, 60},
      {"a.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, true, 95, 4},
      {"a.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, false, 60},
  };
  // Noise, so that FLAC's bytes are spread over the samples as PCM's are.
  std::mt19937 random(3);
  std::vector<short> v(20000);
  for (short& x : v) {
    x = static_cast<short>(static_cast<int>(random() % 60001) - 30000);
  }
  for (const Case& c : cases) {
    Scratch s;
    tools_test::write_shorts(s.path(c.name), c.format, 48000, 1, v);
    std::ifstream good(s.path(c.name), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(good)),
                            std::istreambuf_iterator<char>());
    const std::size_t header = bytes.size() - 2 * v.size();
    const std::size_t cut = bytes.size() * static_cast<std::size_t>(c.percent) / 100;
    tools_test::write_bytes(s.path("cut"), bytes.substr(0, cut));
    const cli::Audio whole = cli::read_channel(s.path(c.name), 0);
    EXPECT_FALSE(whole.info.truncated) << c.name;
    EXPECT_EQ(whole.samples.size(), v.size()) << c.name;
    SCOPED_TRACE(c.percent);
    const cli::Audio a = cli::read_channel(s.path("cut"), 0);
    EXPECT_TRUE(a.info.truncated) << c.name;
    EXPECT_EQ(a.info.frames, static_cast<std::int64_t>(a.samples.size())) << c.name;
    if (c.pcm) {
      EXPECT_EQ(a.samples.size(), (cut - header) / 2 - c.unread) << c.name;
    }
    ASSERT_GT(a.samples.size(), 0u) << c.name;
    ASSERT_LT(a.samples.size(), v.size()) << c.name;
    for (std::size_t i = 0; i < a.samples.size(); ++i) {
      ASSERT_EQ(a.samples[i], v[i]) << c.name << " " << i;
    }
  }
}

TEST(AudioFile, SixteenBitWritingRoundsAndLimits) {
  Scratch s;
  const std::vector<double> x = {0.4, 0.5, 1.5, -0.5, -2.5, 32767.4, 40000.0, -40000.0, kNaN};
  cli::write_wav16(s.path("w.wav"), x, 44100);
  const cli::Audio a = cli::read_channel(s.path("w.wav"), 0);
  EXPECT_EQ(a.info.rate, 44100);
  EXPECT_EQ(a.samples,
            (std::vector<double>{0.0, 0.0, 2.0, 0.0, -2.0, 32767.0, 32767.0, -32768.0, 0.0}));
  EXPECT_THROW(cli::write_wav16(s.path("no/such/folder.wav"), x, 48000), cli::OutputError);
}

// --- JSON ----------------------------------------------------------------------------

TEST(Resample, LengthsRoundHalvesUp) {
  struct Case {
    std::int64_t n;
    int from, to;
    std::int64_t length;
  };
  const Case cases[] = {
      {0, 44100, 48000, 0},
      {1, 48000, 44100, 1},
      {7, 44100, 48000, 8},
      {99999, 96000, 48000, 50000},  // 49999.5
      {1000003, 48000, 44100, 918753},
      {2147483646, 2147483647, 2147483647, 2147483646},  // 2 r to just below 2^63
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cli::resampled_length(c.n, c.from, c.to), c.length) << c.n << " " << c.from;
  }
}

TEST(Resample, ChunksGiveTheWholeConversionInTimeAndLength) {
  // A 1 kHz tone at 44100 Hz to 48000 Hz, fed whole and in uneven chunks:
  // the same samples, round(n * 48000 / 44100) of them, each the tone at
  // its own time (within 1e-5 of full scale, away from the ends).
  constexpr int kN = 100003;
  std::vector<double> x(kN);
  for (int i = 0; i < kN; ++i) {
    x[static_cast<std::size_t>(i)] = 16000.0 * std::sin(2.0 * M_PI * 1000.0 * i / 44100.0);
  }
  std::vector<double> whole;
  for (std::size_t chunk : {std::size_t{kN}, std::size_t{1}, std::size_t{4097}}) {
    cli::Resampler r(44100, 48000, "x.wav");
    std::vector<double> y;
    for (std::size_t at = 0; at < x.size(); at += chunk) {
      r.feed(std::span<const double>(x).subspan(at, std::min(chunk, x.size() - at)), y);
    }
    r.finish(y);
    ASSERT_EQ(y.size(), 108847u);  // 108846.67
    if (whole.empty()) {
      whole = y;
      for (std::size_t i = 2000; i + 2000 < y.size(); ++i) {
        ASSERT_NEAR(y[i], 16000.0 * std::sin(2.0 * M_PI * 1000.0 * i / 48000.0), 0.33) << i;
      }
    }
    EXPECT_EQ(y, whole) << "chunks of " << chunk;
  }
  EXPECT_THROW(cli::Resampler(44100, 0, "x.wav"), cli::InputError);
}

TEST(Json, NumbersReadBackToTheSameDouble) {
  std::mt19937_64 random(11);
  std::vector<double> values = {
      0.0,    -0.0,   0.1,   1.0 / 3.0, 1e300,
      5e-324, -2.5,   12345, 1e21,      std::numeric_limits<double>::max(),
      1e-7,   -1e-300};
  for (int k = 0; k < 2000; ++k) {
    const double v = std::bit_cast<double>(random());
    if (std::isfinite(v)) {
      values.push_back(v);
    }
  }
  for (double v : values) {
    const std::string s = cli::shortest(v);
    EXPECT_EQ(bits(std::strtod(s.c_str(), nullptr)), bits(v)) << s;
    EXPECT_EQ(s.find_first_not_of("0123456789+-.e"), std::string::npos) << s;
  }
  EXPECT_EQ(cli::shortest(0.1), "0.1");
  EXPECT_EQ(cli::shortest(-12240.0), "-12240");
  EXPECT_EQ(cli::shortest(257.1875), "257.1875");
}

TEST(Json, NonFiniteValuesAreStrings) {
  cli::Json j;
  j.begin_array().value(kNaN).value(-kNaN).value(kInf).value(-kInf).value(1.5).end_array();
  EXPECT_EQ(j.str(), "[\n  \"NaN\",\n  \"NaN\",\n  \"Infinity\",\n  \"-Infinity\",\n  1.5\n]\n");
}

TEST(Json, StringsAreEscapedAndKeptValidUtf8) {
  EXPECT_EQ(cli::quoted("plain"), "\"plain\"");
  EXPECT_EQ(cli::quoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(cli::quoted("tab\tline\n\x01"), "\"tab\\u0009line\\u000a\\u0001\"");
  EXPECT_EQ(cli::quoted("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5"),
            "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb5\"");
  // A stray byte, an overlong form, a surrogate, a cut sequence, a value
  // above U+10FFFF: each byte is U+FFFD, escaped in JSON and as its bytes
  // wherever else a path is written (CSV, SVG).
  struct Case {
    const char* bytes;
    const char* json;
    const char* text;
  };
  const Case cases[] = {
      {"a\xff", "\"a\\ufffd\"", "a\xef\xbf\xbd"},
      {"\xc0\x80", "\"\\ufffd\\ufffd\"", "\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\"", "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"\xe2\x82.wav", "\"\\ufffd\\ufffd.wav\"", "\xef\xbf\xbd\xef\xbf\xbd.wav"},
      {"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\"",
       "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\"", "caf\xc3\xa9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cli::quoted(c.bytes), c.json) << c.bytes;
    EXPECT_EQ(cli::valid_utf8(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(cli::csv_row({c.bytes}), std::string(c.text) + "\n") << c.bytes;
  }
}

TEST(Json, DocumentsNestWithCommasInPlace) {
  cli::Json j;
  j.begin_object();
  j.key("a").value(1);
  j.key("b").begin_array().end_array();
  j.key("c").begin_object().key("d").value(true).key("e").null().end_object();
  j.key("f").begin_array().value("x").begin_object().end_object().end_array();
  j.end_object();
  EXPECT_EQ(j.str(),
            "{\n"
            "  \"a\": 1,\n"
            "  \"b\": [],\n"
            "  \"c\": {\n"
            "    \"d\": true,\n"
            "    \"e\": null\n"
            "  },\n"
            "  \"f\": [\n"
            "    \"x\",\n"
            "    {}\n"
            "  ]\n"
            "}\n");
}

// A JSON Lines line: the document without layout, strings untouched.
TEST(Json, CompactDocumentsTakeOneLine) {
  cli::Json j;
  j.begin_object();
  j.key("a b").value("x \" y\\");
  j.key("c").begin_array().value(1).null().begin_object().end_object().end_array();
  j.key("d").value("tab\tline\n");
  j.end_object();
  EXPECT_EQ(cli::compact(j.str()),
            "{\"a b\":\"x \\\" y\\\\\",\"c\":[1,null,{}],\"d\":\"tab\\u0009line\\u000a\"}\n");
}

// --- Batches ------------------------------------------------------------------------

TEST(Batch, CsvFieldsAreQuotedOnlyWhenTheyMustBe) {
  struct Case {
    std::vector<std::string> fields;
    const char* row;
  };
  const Case cases[] = {
      {{"a.wav", "0", "", "-1.5"}, "a.wav,0,,-1.5\n"},
      {{"a,b.wav", "say \"hi\""}, "\"a,b.wav\",\"say \"\"hi\"\"\"\n"},
      {{"line\nbreak", "cr\r", " lead", "trail ", "in side"},
       "\"line\nbreak\",\"cr\r\",\" lead\",\"trail \",in side\n"},
      {{"caf\xc3\xa9;x"}, "caf\xc3\xa9;x\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cli::csv_row(c.fields), c.row);
  }
  EXPECT_EQ(cli::jsonl_error("a\".wav", "a\".wav: cannot read it", 3),
            "{\"path\":\"a\\\".wav\",\"error\":\"a\\\".wav: cannot read it\",\"exit_status\":3}\n");
}

// Each file in a worker of its own, two at once: results in the order given
// whatever order they finish in, every part of them (a part larger than a
// pipe holds among them), and every way a worker can fail, named by its
// file in each part; a warning about the reference that each file's
// measurement finds is printed once.
TEST(Batch, EachFileGetsItsResultInTheOrderGiven) {
  const std::string shared = "prog: warning: ref.wav: its steps fit neither period\n";
  cli::BatchJob job;
  job.program = "prog";
  job.files = {"slow", "bad", "killed", "big", "oom", "fine"};
  job.jobs = 2;
  job.measure = [&shared](const std::string& path) -> cli::FileResult {
    if (path == "slow") {
      ::usleep(200000);  // so that later files finish first
      return {1,     "slow row\n", "prog: warning: slow\n", shared, "<testcase/>", "<td>1</td>",
              "<p/>"};
    }
    if (path == "bad") {
      throw cli::InputError(path + ": cannot read it");
    }
    if (path == "killed") {
      ::raise(SIGKILL);
    }
    if (path == "oom") {
      throw std::bad_alloc();
    }
    return {0, path == "big" ? std::string(1 << 20, 'x') : "fine row\n", "", shared, "", "", ""};
  };
  job.error_output = [](const std::string& path, const std::string& message, int status) {
    return path + " " + std::to_string(status) + " " + message + "\n";
  };
  const std::vector<cli::FileResult> results = cli::run_batch(job);
  struct Want {
    int status;
    std::string out;
    std::string err;
    std::string shared_err;
    std::string html_cells;
  };
  const std::string killed =
      "killed: the worker process measuring it killed by signal 9 (Killed) (out of memory, or "
      "stopped from outside)";
  const Want want[] = {
      {1, "slow row\n", "prog: warning: slow\n", shared, "<td>1</td>"},
      {3, "bad 3 bad: cannot read it\n", "prog: bad: cannot read it\n", "",
       "<td colspan=\"1\">bad: cannot read it</td>"},
      {5, "killed 5 " + killed + "\n", "prog: " + killed + "\n", "",
       "<td colspan=\"1\">" + killed + "</td>"},
      {0, std::string(1 << 20, 'x'), "", shared, ""},
      {5, "oom 5 oom: out of memory\n", "prog: oom: out of memory\n", "",
       "<td colspan=\"1\">oom: out of memory</td>"},
      {0, "fine row\n", "", shared, ""},
  };
  ASSERT_EQ(results.size(), std::size(want));
  for (std::size_t k = 0; k < results.size(); ++k) {
    EXPECT_EQ(results[k].status, want[k].status) << k;
    EXPECT_EQ(results[k].out, want[k].out) << k;
    EXPECT_EQ(results[k].err, want[k].err) << k;
    EXPECT_EQ(results[k].html_cells, want[k].html_cells) << k;
    EXPECT_EQ(results[k].shared_err, want[k].shared_err) << k;
  }
  EXPECT_EQ((std::vector<std::string>{results[0].junit, results[0].html_section}),
            (std::vector<std::string>{"<testcase/>", "<p/>"}));
  EXPECT_EQ(results[1].junit,
            "    <testcase classname=\"prog\" name=\"bad\">\n      <error type=\"exit status 3\" "
            "message=\"bad: cannot read it\"></error>\n    </testcase>\n");

  // As the batch prints it: the shared warning once, before the files' lines.
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const cli::BatchLayout layout = {"prog",          {"path", "exit_status", "verdict", "error"},
                                   {"a", "b", "c"}, {1, 1, 1},
                                   "file",          "files",
                                   "reference",     {}};
  cli::ReportFiles none;
  EXPECT_EQ(
      cli::run_and_report_batch(layout, cli::BatchFormat::kCsv, "",
                                {"ref.wav", "slow", "bad", "fine"}, 2, job.measure, none, out, err),
      3);
  std::rewind(err);
  std::string printed(4096, '\0');
  printed.resize(std::fread(printed.data(), 1, printed.size(), err));
  EXPECT_EQ(printed, shared + "prog: warning: slow\nprog: bad: cannot read it\n");
  std::fclose(out);
  std::fclose(err);
}

// A batch's status is its least usable file's: errors, then retest, then
// reject, then pass.
TEST(Batch, StatusesCombineFromPassToErrors) {
  const struct {
    std::vector<int> statuses;
    int worst;
  } cases[] = {
      {{}, 0}, {{0, 6, 0}, 6}, {{6, 1, 0}, 1}, {{1, 6, 3}, 3}, {{5, 3, 4, 6}, 5}, {{0, 0}, 0},
  };
  for (const auto& c : cases) {
    std::vector<cli::FileResult> results;
    for (int s : c.statuses) {
      results.push_back({s, "", "", "", "", "", ""});
    }
    EXPECT_EQ(cli::worst_status(results), c.worst) << c.statuses.size();
  }
}

// --- Limits -------------------------------------------------------------------------

TEST(Limits, TheFileSetsEveryBoundAndAStepOverridesItsOwn) {
  Scratch dir;
  const std::string file = dir.path("limits.toml");
  tools_test::write_bytes(file,
                          "[gain]  # every step\nmin_db = -4\nmax_db = 4.0\nmax_spread_db = 1.5\n"
                          "max_noise_distortion_db = -30\nmax_clipped_samples = 0\n"
                          "max_delay_samples = 24000\nmax_drift_ppm = 50\n"
                          "[gain.step.9]\nmax_db = 3.0\nmax_clipped_samples = 10\n"
                          "[snr]\nmin_db = 15.0\n");
  const cli::Limits l = cli::read_limits(file);
  ASSERT_TRUE(l.gain && l.snr);
  for (int k = 0; k < AM_STEPS; ++k) {
    EXPECT_EQ(l.gain->gain_min_db[k], -4.0);
    EXPECT_EQ(l.gain->gain_max_db[k], k == 8 ? 3.0 : 4.0);
    EXPECT_EQ(l.gain->spread_max_db[k], 1.5);
    EXPECT_EQ(l.gain->noise_distortion_max_db[k], -30.0);
    EXPECT_EQ(l.gain->clipped_max[k], k == 8 ? 10.0 : 0.0);
  }
  EXPECT_EQ(l.gain->delay_max_samples, 24000.0);
  EXPECT_EQ(l.gain->drift_max_ppm, 50.0);
  EXPECT_EQ(l.snr->snr_min_db, 15.0);
  EXPECT_TRUE(std::isnan(l.snr->snr_max_db));
  tools_test::write_bytes(file, "[snr]\n");
  EXPECT_FALSE(cli::read_limits(file).gain);
}

TEST(Limits, MistakesAreUsageErrorsNamingTheFileAndLine) {
  const struct {
    const char* text;
    const char* says;  // after "FILE:"
  } cases[] = {
      {"[gain]\nmin_db = -4\nfoo = 1\n", "3: unknown key 'foo' in [gain]"},
      {"gain = 1\n", "1: unknown key 'gain'; limits are given in [gain] and [snr]"},
      {"[spl]\n", "1: unknown table [spl]"},
      {"[gain]\nmax_db = \"3\"\n", "2: max_db takes a number, not a string"},
      {"[gain]\nmax_clipped_samples = 0.5\n", "2: max_clipped_samples takes a whole number"},
      {"[gain]\nmax_db = inf\n", "2: max_db takes a finite number"},
      {"[gain]\nmax_drift_ppm = -1\n", "2: max_drift_ppm is the largest size allowed: at least 0"},
      {"[gain]\nmin_db = 5\nmax_db = 4\n", "3: min_db 5 is above max_db 4"},
      {"[gain]\nmax_db = 1\n\n[gain.step.3]\nmin_db = 2\n",
       "5: step 3: min_db 2 is above max_db 1"},
      {"[gain.step.12]\nmax_db = 1\n", "1: [gain.step.12]: a step number is 1 to 11"},
      {"[gain.step.0]\n", "1: [gain.step.0]: a step number is 1 to 11"},
      {"[gain.step.2]\nmax_delay_samples = 1\n",
       "2: unknown key 'max_delay_samples' in [gain.step.2]"},
      {"[snr]\nmin_db = 30\nmax_db = 20\n", "3: min_db 30 is above max_db 20"},
      {"[gain\n", "1: not a TOML document"},
  };
  Scratch dir;
  const std::string file = dir.path("l.toml");
  for (const auto& c : cases) {
    tools_test::write_bytes(file, c.text);
    try {
      cli::read_limits(file);
      ADD_FAILURE() << c.text;
    } catch (const cli::UsageError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(file + ":" + c.says, 0), 0u) << e.what();
    }
  }
  EXPECT_THROW(cli::read_limits(dir.path("none.toml")), cli::UsageError);
}

// A judgement in each output: every bound with its figure and outcome.
TEST(Limits, AJudgementReadsTheSameInJsonCsvAndTable) {
  am_judgement judged;
  am_judgement_init(&judged);
  judged.outcome = AM_LIMITS_FAIL;
  judged.failed_checks = 1u << AM_CHECK_GAIN | 1u << AM_CHECK_DELAY;
  judged.failed_steps[AM_CHECK_GAIN] = 1u << 8;
  judged.failed_steps[AM_CHECK_DELAY] = 1u;
  const cli::Judgement j = cli::judgement("l.toml", judged,
                                          {{AM_CHECK_GAIN, 8, 1.25, -4.0, 4.0},
                                           {AM_CHECK_GAIN, 9, 3.5, -4.0, 3.0},
                                           {AM_CHECK_SPREAD, 9, 0.5, kNaN, kNaN},
                                           {AM_CHECK_DELAY, 0, 12345.0, kNaN, 10000.0}});
  ASSERT_EQ(j.checks.size(), 3u);  // the spread has no bound
  cli::Json json;
  json.begin_object();
  cli::judgement_json(json, j);
  json.end_object();
  EXPECT_EQ(
      cli::compact(json.str()),
      "{\"limits\":{\"verdict\":\"fail\",\"checks\":["
      "{\"check\":\"gain\",\"step\":8,\"value\":1.25,\"min\":-4,\"max\":4,\"outcome\":\"pass\"},"
      "{\"check\":\"gain\",\"step\":9,\"value\":3.5,\"min\":-4,\"max\":3,\"outcome\":\"fail\"},"
      "{\"check\":\"delay\",\"step\":null,\"value\":12345,\"min\":null,\"max\":10000,"
      "\"outcome\":\"fail\"}]}}\n");
  EXPECT_EQ(cli::judgement_csv(j), (std::vector<std::string>{"fail", "gain@9;delay"}));
  EXPECT_EQ(cli::judgement_csv(std::nullopt), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(cli::judgement_table(j),
            "limits     FAIL (l.toml): 2 of 3 checks outside their limits:\n"
            "  - gain of step 9: +3.500 dB, above its maximum +3.000 dB\n"
            "  - delay: 12345 samples, above its maximum 10000 samples\n");
}

// --- Report files --------------------------------------------------------------------

// Whatever bytes a path holds, the XML and HTML stay well formed: escaped,
// valid UTF-8, no control character XML 1.0 forbids.
TEST(ReportFiles, TextIsEscapedAndValid) {
  const std::string odd = "a&b <\"c\"> 'd'\x01\xff\xc3\xa9\n";
  EXPECT_EQ(cli::xml_text(odd),
            "a&amp;b &lt;&quot;c&quot;&gt; &apos;d&apos;\xef\xbf\xbd\xef\xbf\xbd\xc3\xa9\n");
  EXPECT_EQ(cli::xml_attribute("x\ny\t"), "x&#10;y&#9;");
  EXPECT_EQ(cli::inline_svg("<?xml version=\"1.0\"?>\n<svg>\xff</svg>\n"),
            "<svg>\xef\xbf\xbd</svg>\n");
}

// A JUnit suite counts failures (reject) and errors (the rest but passes);
// the page counts each outcome and links a row to its section.
TEST(ReportFiles, JUnitAndThePageCountTheOutcomes) {
  const cli::BatchLayout layout{"prog", {},      {"a", "b", "c"}, {1, 1, 1},
                                "file", "files", "reference",     {"verdict"}};
  std::vector<cli::FileResult> results;
  for (int status : {0, 6, 1, 3}) {
    cli::FileResult r{status, "", "", "", "", "<td>v</td>", status == 6 ? "<p>chart</p>" : ""};
    r.junit = cli::junit_testcase("prog", "f" + std::to_string(status) + "\xff.wav", status,
                                  "why <1>", {"line 1", "line 2"});
    results.push_back(r);
  }
  const std::string x = cli::junit_document(layout, "ref.wav", results);
  for (const char* part : {
           "<testsuites name=\"prog\" tests=\"4\" failures=\"1\" errors=\"2\">",
           "<property name=\"reference\" value=\"ref.wav\"/>",
           "<testcase classname=\"prog\" name=\"f0\xef\xbf\xbd.wav\"/>\n",
           "<failure type=\"reject\" message=\"why &lt;1&gt;\">line 1\nline 2</failure>",
           "<error type=\"retest\" message=",
           "<error type=\"exit status 3\" message=",
       }) {
    EXPECT_TRUE(tools_test::has(x, part)) << part << "\n" << x;
  }
  const std::string h =
      cli::html_page(layout, "reference  ref.wav", {"a.wav", "b.wav", "c.wav", "d.wav"}, results);
  for (const char* part : {
           "<!DOCTYPE html>",
           "<div class=\"count pass\" id=\"count-pass\"><b>1</b>pass",
           "<div class=\"count fail\" id=\"count-fail\"><b>1</b>fail",
           "<div class=\"count retest\" id=\"count-retest\"><b>1</b>retest",
           "<div class=\"count error\" id=\"count-error\"><b>1</b>error",
           "<th>file</th><th>verdict</th>",
           "<tr id=\"row-2\"><td class=\"num\">2</td><td><span class=\"badge "
           "fail\">fail</span></td>"
           "<td class=\"file\"><a href=\"#file-2\">b.wav</a></td><td>v</td></tr>",
           "<section id=\"file-2\">",
       }) {
    EXPECT_TRUE(tools_test::has(h, part)) << part;
  }
  for (const char* absent : {"<script", "<link", "src=", "http"}) {
    EXPECT_FALSE(tools_test::has(h, absent)) << absent;
  }
}

// --- Command lines ---------------------------------------------------------------

TEST(Options, ValuesFlagsAndOperands) {
  const cli::CommandLine line =
      cli::parse({"a.wav", "--channel", "2", "--json", "--plot=x.svg", "--", "--b.wav"},
                 {"--channel", "--plot"}, {"--json", "--help"});
  EXPECT_EQ(line.operands, (std::vector<std::string>{"a.wav", "--b.wav"}));
  EXPECT_EQ(line.values.at("--channel"), "2");
  EXPECT_EQ(line.values.at("--plot"), "x.svg");
  EXPECT_TRUE(line.has("--json"));
  EXPECT_FALSE(line.has("--help"));
  EXPECT_EQ(cli::channel_option(line), 2);
  EXPECT_TRUE(cli::parse({"-h"}, {}, {"--help"}).has("--help"));
  EXPECT_EQ(cli::parse({"-"}, {}, {}).operands, (std::vector<std::string>{"-"}));
}

TEST(Options, MistakesAreUsageErrors) {
  const std::set<std::string> values = {"--channel"};
  const std::set<std::string> flags = {"--json"};
  const std::vector<std::vector<std::string>> wrong = {
      {"--nope"},           {"-x"},
      {"--channel"},        {"--json=yes"},
      {"--json", "--json"}, {"--channel", "1", "--channel=2"},
  };
  for (const auto& args : wrong) {
    EXPECT_THROW(cli::parse(args, values, flags), cli::UsageError) << args[0];
  }
  for (const char* v : {"0", "-1", "x", "1.5", "", "99999999999"}) {
    const cli::CommandLine line = cli::parse({"--channel", v}, values, flags);
    EXPECT_THROW(cli::channel_option(line), cli::UsageError) << v;
  }
  EXPECT_EQ(cli::channel_option(cli::parse({}, values, flags)), 0);

  // Values from a list, and --jobs from 1 up.
  const std::vector<cli::OptionDecl> decls = {{"--step-period", true, {"auto", "25.2", "24.7"}},
                                              {"--jobs", true, {}}};
  EXPECT_EQ(cli::parse({"--step-period=auto"}, decls).values.at("--step-period"), "auto");
  try {
    cli::parse({"--step-period", "25"}, decls);
    ADD_FAILURE() << "25 is no step period";
  } catch (const cli::UsageError& e) {
    EXPECT_STREQ(e.what(), "--step-period is auto, 25.2 or 24.7, not '25'");
  }
  EXPECT_EQ(cli::jobs_option(cli::parse({"--jobs", "3"}, decls), 7), 3);
  EXPECT_EQ(cli::jobs_option(cli::parse({}, decls), 7), 7);
  for (const char* v : {"0", "-2", "x", "1.5", "", "9999999"}) {
    EXPECT_THROW(cli::jobs_option(cli::parse({"--jobs", v}, decls), 1), cli::UsageError) << v;
  }
}

}  // namespace
