#include "cli/audio_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace cli {
namespace {

constexpr double kFullScale = 32767.0;
constexpr sf_count_t kChunkFrames = 65536;

struct Closer {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using File = std::unique_ptr<SNDFILE, Closer>;

std::string container_name(int major) {
  SF_FORMAT_INFO info{};
  info.format = major;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) == 0 && info.name != nullptr) {
    return info.name;
  }
  return "unknown container";
}

// Reads every frame of an open file, in chunks, and keeps channel `pick`
// (0-based) of each. Sample is short (16-bit PCM, integer values) or double
// (normalised, to be scaled).
template <class Sample, class ReadFrames>
std::vector<double> read_frames(SNDFILE* file, const AudioInfo& info, int pick, double scale,
                                ReadFrames read) {
  std::vector<double> out;
  if (info.frames > 0 && info.frames <= kMaxFrames) {
    out.reserve(static_cast<std::size_t>(info.frames));
  }
  std::vector<Sample> chunk(static_cast<std::size_t>(kChunkFrames) *
                            static_cast<std::size_t>(info.channels));
  for (;;) {
    const sf_count_t got = read(file, chunk.data(), kChunkFrames);
    if (got <= 0) {
      break;
    }
    if (static_cast<std::int64_t>(out.size()) + got > kMaxFrames) {
      throw InputError(info.path + ": more than " + std::to_string(kMaxFrames) +
                       " frames, more than the libraries can take");
    }
    for (sf_count_t f = 0; f < got; ++f) {
      const double v =
          static_cast<double>(chunk[static_cast<std::size_t>(f * info.channels + pick)]);
      out.push_back(v * scale);
    }
  }
  return out;
}

// Whether libsndfile found the data chunk shorter than announced: its log
// then has a line "data : <announced> (should be <held>)".
bool data_chunk_cut(SNDFILE* file) {
  std::string log(16384, '\0');
  sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
  log.resize(log.find('\0'));
  for (std::size_t at = log.find("data : "); at != std::string::npos;
       at = log.find("data : ", at + 1)) {
    const std::size_t end = log.find('\n', at);
    const std::string line = log.substr(at, end == std::string::npos ? end : end - at);
    if ((at == 0 || log[at - 1] == '\n') && line.find("(should be ") != std::string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string encoding_name(int subformat) {
  switch (subformat) {
    case SF_FORMAT_PCM_S8:
      return "8-bit PCM (signed)";
    case SF_FORMAT_PCM_U8:
      return "8-bit PCM (unsigned)";
    case SF_FORMAT_PCM_16:
      return "16-bit PCM";
    case SF_FORMAT_PCM_24:
      return "24-bit PCM";
    case SF_FORMAT_PCM_32:
      return "32-bit PCM";
    case SF_FORMAT_FLOAT:
      return "32-bit float";
    case SF_FORMAT_DOUBLE:
      return "64-bit float";
    default:
      break;
  }
  SF_FORMAT_INFO info{};
  info.format = subformat;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) == 0 && info.name != nullptr) {
    return info.name;
  }
  return "unknown encoding";
}

Audio read_channel(const std::string& path, int channel) {
  SF_INFO sf{};
  File file(sf_open(path.c_str(), SFM_READ, &sf));
  if (!file) {
    std::string why = sf_strerror(nullptr);
    // libsndfile's system errors read "System error : ..."; keep the reason.
    const std::string prefix = "System error : ";
    if (why.rfind(prefix, 0) == 0) {
      why.erase(0, prefix.size());
    }
    while (!why.empty() && (why.back() == '.' || why.back() == '\n')) {
      why.pop_back();
    }
    throw InputError(path + ": cannot read it as audio: " + why);
  }
  Audio audio;
  AudioInfo& info = audio.info;
  info.path = path;
  info.container = container_name(sf.format & SF_FORMAT_TYPEMASK);
  const int subformat = sf.format & SF_FORMAT_SUBMASK;
  info.encoding = encoding_name(subformat);
  info.rate = sf.samplerate;
  info.channels = sf.channels;
  info.frames = sf.frames;
  info.truncated = data_chunk_cut(file.get());
  if (sf.channels < 1 || sf.samplerate < 1) {
    throw InputError(path + ": the header gives " + std::to_string(sf.channels) + " channels at " +
                     std::to_string(sf.samplerate) + " Hz");
  }
  if (sf.channels == 1) {
    info.channel = 1;
  } else if (channel == 0) {
    throw InputError(path + ": has " + std::to_string(sf.channels) +
                     " channels; choose one with --channel N (1 to " + std::to_string(sf.channels) +
                     ")");
  } else if (channel > sf.channels) {
    throw InputError(path + ": has " + std::to_string(sf.channels) +
                     " channels; there is no channel " + std::to_string(channel));
  } else {
    info.channel = channel;
  }
  const int pick = info.channel - 1;
  if (sf.frames == 0) {
    throw InputError(path + ": holds no samples (the file is empty)");
  }
  if (sf.frames > kMaxFrames && sf.frames != SF_COUNT_MAX) {
    throw InputError(path + ": " + std::to_string(sf.frames) + " frames, more than the " +
                     std::to_string(kMaxFrames) + " the libraries can take");
  }

  if (subformat == SF_FORMAT_PCM_16) {
    info.scale = Scale::kInteger16;
    audio.samples = read_frames<short>(file.get(), info, pick, 1.0, sf_readf_short);
  } else {
    info.scale = Scale::kNormalised;
    sf_command(file.get(), SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
    audio.samples = read_frames<double>(file.get(), info, pick, kFullScale, sf_readf_double);
  }
  if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
    throw InputError(path + ": cannot decode it: " + sf_strerror(file.get()));
  }
  const auto got = static_cast<std::int64_t>(audio.samples.size());
  if (sf.frames != SF_COUNT_MAX && got < sf.frames) {
    throw InputError(path + ": truncated: it holds " + std::to_string(got) + " of the " +
                     std::to_string(sf.frames) + " frames its header announces");
  }
  if (got == 0) {
    throw InputError(path + ": holds no samples (the file is empty)");
  }
  info.frames = got;
  return audio;
}

void write_wav16(const std::string& path, const std::vector<double>& samples, int rate) {
  SF_INFO sf{};
  sf.samplerate = rate;
  sf.channels = 1;
  sf.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  File file(sf_open(path.c_str(), SFM_WRITE, &sf));
  if (!file) {
    throw OutputError(path + ": cannot write it: " + sf_strerror(nullptr));
  }
  std::vector<short> chunk;
  chunk.reserve(static_cast<std::size_t>(kChunkFrames));
  for (std::size_t i = 0; i < samples.size();) {
    chunk.clear();
    for (; i < samples.size() && chunk.size() < static_cast<std::size_t>(kChunkFrames); ++i) {
      const double v = std::nearbyint(samples[i]);
      chunk.push_back(std::isnan(v) ? short{0}
                                    : static_cast<short>(std::clamp(v, -32768.0, 32767.0)));
    }
    const auto n = static_cast<sf_count_t>(chunk.size());
    if (sf_writef_short(file.get(), chunk.data(), n) != n) {
      throw OutputError(path + ": cannot write it: " + sf_strerror(file.get()));
    }
  }
  if (sf_close(file.release()) != 0) {
    throw OutputError(path + ": cannot finish writing it");
  }
}

}  // namespace cli
