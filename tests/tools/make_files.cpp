// Test files for the command-line tools, made from the demonstration files
// that "lumetra-measure --make-demo DIR" and "quenbar-snr --make-demo DIR"
// wrote into DIR: the same recording in other encodings and layouts, and
// files the tools must refuse.
//
//   recording_24bit.wav    24-bit PCM: each 16-bit sample n stored as 256 n
//   recording_float.wav    32-bit float: n stored as n / 32768 (exact)
//   recording_stereo.wav   16-bit, 2 channels: the reference, then the recording
//   recording_30s.wav      16-bit: the recording's first 30 s (it ends inside step 1)
//   recording_nan.wav      32-bit float: the recording with a NaN at sample 5000000
//   reference_inf.wav      32-bit float: the reference with +Inf at sample 2000000
//   reference_44100.wav    16-bit, 44100 Hz: the reference's first 20 s
//   reference_short.wav    16-bit, 48000 Hz: the reference's first 20 s
//   measured_44100.wav     the measured signal, labelled 44100 Hz
//   recording_44100.wav    32-bit float, 44100 Hz: the recording converted by libsoxr (n / 32767)
//   measured_96000.wav     32-bit float, 96000 Hz: the measured signal likewise
//   measured_96000_nan.wav the same with a NaN at sample 100000
//   gate_silent.wav        16-bit zeros as long as the gate
//   gate_8bit.wav          8-bit PCM (unsigned in WAV): the gate's samples n as round(n / 256)
//   empty.wav              a header and no samples
//   truncated_header.wav   the first 20 bytes of gate.wav
//   truncated_data.wav     gate.wav cut 1000 bytes into its samples
//   gate.flac              the gate in FLAC
//   gate_cut.flac          gate.flac cut to 60 % of its bytes (its header announces all)
//   gate_cut.caf           the gate in CAF, 16-bit, likewise cut to 60 %
//   reference_cut.flac     the reference in FLAC cut to 99.5 % of its bytes: it still
//                          holds the opening and 10 whole steps of 24.7 s
//   not_audio.wav          text
//
// Usage: am_tool_files DIR. Exit status 0, or 1 with a message.
#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/tool_support.h"

namespace {

struct Frames {
  std::vector<short> samples;  // interleaved
  int channels = 1;
  int rate = 0;
};

Frames read16(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) {
    throw std::runtime_error(path + ": " + sf_strerror(nullptr));
  }
  Frames x;
  x.channels = info.channels;
  x.rate = info.samplerate;
  x.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
  const sf_count_t got = sf_readf_short(f, x.samples.data(), info.frames);
  sf_close(f);
  if (got != info.frames) {
    throw std::runtime_error(path + ": short read");
  }
  return x;
}

// x, 16-bit samples at 48000 Hz, converted to `to` Hz by one call of
// libsoxr at its very-high-quality setting (independent of the tools'
// chunk-by-chunk conversion) and written as floats on the scale that reads
// back as the same values (v / 32767).
std::vector<float> converted(const std::vector<short>& x, int to) {
  const std::vector<double> in(x.begin(), x.end());
  std::vector<double> out(in.size() * static_cast<std::size_t>(to) / 48000 + 1);
  std::size_t done = 0;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
  if (soxr_oneshot(48000, to, 1, in.data(), in.size(), nullptr, out.data(), out.size(), &done, &io,
                   &quality, nullptr) != nullptr) {
    throw std::runtime_error("libsoxr failed");
  }
  std::vector<float> f(done);
  for (std::size_t i = 0; i < done; ++i) {
    f[i] = static_cast<float>(out[i] / 32767.0);
  }
  return f;
}

std::vector<char> bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void make(const std::string& dir) {
  const auto at = [&](const char* name) { return dir + "/" + name; };
  constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  const Frames reference = read16(at("reference.wav"));
  const Frames recording = read16(at("recording.wav"));
  const Frames gate = read16(at("gate.wav"));
  const Frames measured = read16(at("measured.wav"));

  std::vector<int> wide(recording.samples.size());
  std::vector<float> floats(recording.samples.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    // libsndfile's int samples are left-justified 32-bit values: n << 16
    // stores 256 n in 24 bits.
    wide[i] = recording.samples[i] * 65536;
    floats[i] = static_cast<float>(recording.samples[i] / 32768.0);
  }
  tools_test::write_ints(at("recording_24bit.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, 48000, 1,
                         wide);
  tools_test::write_floats(at("recording_float.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
                           floats);
  floats[5000000] = std::numeric_limits<float>::quiet_NaN();
  tools_test::write_floats(at("recording_nan.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
                           floats);
  tools_test::write_shorts(
      at("recording_30s.wav"), kWav16, 48000, 1,
      std::vector<short>(recording.samples.begin(), recording.samples.begin() + 30 * 48000));
  std::vector<float> reference_floats(reference.samples.begin(), reference.samples.end());
  for (float& v : reference_floats) {
    v /= 32768.0f;
  }
  reference_floats[2000000] = std::numeric_limits<float>::infinity();
  tools_test::write_floats(at("reference_inf.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, 48000, 1,
                           reference_floats);

  std::vector<short> stereo(2 * recording.samples.size(), 0);
  for (std::size_t i = 0; i < recording.samples.size(); ++i) {
    stereo[2 * i] = i < reference.samples.size() ? reference.samples[i] : short{0};
    stereo[2 * i + 1] = recording.samples[i];
  }
  tools_test::write_shorts(at("recording_stereo.wav"), kWav16, 48000, 2, stereo);

  const std::vector<short> opening(reference.samples.begin(),
                                   reference.samples.begin() + 20 * 48000);
  tools_test::write_shorts(at("reference_44100.wav"), kWav16, 44100, 1, opening);
  tools_test::write_shorts(at("reference_short.wav"), kWav16, 48000, 1, opening);
  tools_test::write_shorts(at("measured_44100.wav"), kWav16, 44100, 1, measured.samples);
  constexpr int kFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  tools_test::write_floats(at("recording_44100.wav"), kFloat, 44100, 1,
                           converted(recording.samples, 44100));
  std::vector<float> slow = converted(measured.samples, 96000);
  tools_test::write_floats(at("measured_96000.wav"), kFloat, 96000, 1, slow);
  slow[100000] = std::numeric_limits<float>::quiet_NaN();
  tools_test::write_floats(at("measured_96000_nan.wav"), kFloat, 96000, 1, slow);
  tools_test::write_shorts(at("gate_silent.wav"), kWav16, 48000, 1,
                           std::vector<short>(gate.samples.size(), 0));
  std::vector<int> coarse(gate.samples.size());
  for (std::size_t i = 0; i < coarse.size(); ++i) {
    const long k = std::min(std::lround(gate.samples[i] / 256.0), 127L);
    coarse[i] = static_cast<int>(k) * (1 << 24);
  }
  tools_test::write_ints(at("gate_8bit.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 48000, 1, coarse);
  tools_test::write_shorts(at("empty.wav"), kWav16, 48000, 1, std::vector<short>());

  const std::vector<char> g = bytes(at("gate.wav"));
  tools_test::write_bytes(at("truncated_header.wav"), std::string(g.data(), 20));
  tools_test::write_bytes(at("truncated_data.wav"), std::string(g.data(), 44 + 1000));
  // Files whose headers announce more than they hold, in containers where
  // that shows only at their end.
  const auto cut = [&](const char* whole, const char* name, std::size_t per_mille) {
    const std::vector<char> b = bytes(at(whole));
    tools_test::write_bytes(at(name), std::string(b.data(), b.size() * per_mille / 1000));
  };
  constexpr int kFlac16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  tools_test::write_shorts(at("gate.flac"), kFlac16, 48000, 1, gate.samples);
  cut("gate.flac", "gate_cut.flac", 600);
  tools_test::write_shorts(at("gate.caf"), SF_FORMAT_CAF | SF_FORMAT_PCM_16, 48000, 1,
                           gate.samples);
  cut("gate.caf", "gate_cut.caf", 600);
  tools_test::write_shorts(at("reference.flac"), kFlac16, 48000, 1, reference.samples);
  cut("reference.flac", "reference_cut.flac", 995);
  const std::string text = "These are not the samples you are looking for.\n";
  tools_test::write_bytes(at("not_audio.wav"), text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: am_tool_files DIR\n");
    return 1;
  }
  try {
    make(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "am_tool_files: %s\n", e.what());
    return 1;
  }
  return 0;
}
