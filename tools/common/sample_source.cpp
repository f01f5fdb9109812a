#include "common/sample_source.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <span>

#include "common/command_line.h"
#include "common/resample.h"

namespace cli {
namespace {

constexpr double kFullScale = 32767.0;
constexpr auto kChunkFrames = static_cast<sf_count_t>(kChunk);

struct Closer {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndFile = std::unique_ptr<SNDFILE, Closer>;

std::string container_name(int major) {
  SF_FORMAT_INFO info{};
  info.format = major;
  if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) == 0 && info.name != nullptr) {
    return info.name;
  }
  return "unknown container";
}

// Samples a resampled file's reader keeps back from the converter's output
// until the end, so that the final cut to the exact length (at most a
// sample or two) never reaches samples already given.
constexpr std::size_t kHoldBack = 64;

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

// Why a path cannot be opened as an input, or "" when it can: only regular
// files (and "-", standard input) are opened, since opening a pipe without a
// writer blocks forever and a folder or device holds no audio file.
std::string unopenable(const std::string& path) {
  if (path == "-") {
    return "";
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return "";  // libsndfile names the reason (no such file, no permission)
  }
  if (S_ISDIR(st.st_mode)) {
    return "is a folder, not an audio file";
  }
  if (!S_ISREG(st.st_mode)) {
    return "is not a regular file (a pipe, device or socket); the tools read audio files";
  }
  return "";
}

// libsndfile's reason for refusing to open a file, in the tools' words.
std::string open_error() {
  std::string why = sf_strerror(nullptr);
  // A header whose sample rate is 0 fails libsndfile's check of the format
  // it read ("SF_INFO struct incomplete"); a channel count of 0 has its own
  // message.
  if (why.find("SF_INFO struct incomplete") != std::string::npos) {
    return "the header gives a sample rate of 0 Hz";
  }
  // libsndfile's system errors read "System error : ..."; keep the reason.
  const std::string prefix = "System error : ";
  if (why.rfind(prefix, 0) == 0) {
    why.erase(0, prefix.size());
  }
  while (!why.empty() && (why.back() == '.' || why.back() == '\n')) {
    why.pop_back();
  }
  return "cannot read it as audio: " + why;
}

}  // namespace

struct SampleSource::File {
  SndFile file;
  int subformat = 0;
  bool started = false;
  bool decoded_all = false;
  std::vector<short> shorts;    // a decoded chunk of 16-bit PCM, every channel
  std::vector<double> doubles;  // likewise of any other encoding, normalised
  std::vector<double> picked;   // a resampled file's chunk, its chosen channel
  std::vector<double> pending;  // converted samples, given from pending_at on
  std::size_t pending_at = 0;
  std::unique_ptr<Resampler> resampler;
  std::int64_t decoded = 0;  // the file's frames decoded
  std::int64_t given = 0;    // samples handed out
  std::int64_t non_finite = -1;
  std::vector<double> chunk;  // what next() hands out

  // Decodes the next frames of the file, at most to.size() and one chunk,
  // and writes the chosen channel, scaled, to `to`; returns how many (0 at
  // the end).
  std::size_t decode(const AudioInfo& info, std::span<double> to) {
    const std::size_t want = std::min(to.size(), static_cast<std::size_t>(kChunkFrames));
    const auto channels = static_cast<std::size_t>(info.channels);
    const auto pick = static_cast<std::size_t>(info.channel - 1);
    sf_count_t got = 0;
    if (subformat == SF_FORMAT_PCM_16) {
      shorts.resize(static_cast<std::size_t>(kChunkFrames) * channels);
      got = sf_readf_short(file.get(), shorts.data(), static_cast<sf_count_t>(want));
      for (sf_count_t f = 0; f < got; ++f) {
        to[static_cast<std::size_t>(f)] =
            static_cast<double>(shorts[static_cast<std::size_t>(f) * channels + pick]);
      }
    } else {
      doubles.resize(static_cast<std::size_t>(kChunkFrames) * channels);
      got = sf_readf_double(file.get(), doubles.data(), static_cast<sf_count_t>(want));
      for (sf_count_t f = 0; f < got; ++f) {
        to[static_cast<std::size_t>(f)] =
            doubles[static_cast<std::size_t>(f) * channels + pick] * kFullScale;
      }
    }
    if (got <= 0) {
      return 0;
    }
    if (decoded + got > kMaxFrames) {
      throw InputError(info.path + ": more than " + std::to_string(kMaxFrames) +
                       " frames, more than the libraries can take");
    }
    decoded += got;
    return static_cast<std::size_t>(got);
  }

  // The checks once the file is decoded, then the file closed.
  void end(const AudioInfo& info) {
    const std::int64_t announced = resampler ? info.resampled_from_frames : info.frames;
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
      throw InputError(info.path + ": cannot decode it: " + sf_strerror(file.get()));
    }
    if (announced != kUnknownFrames && decoded < announced) {
      throw InputError(info.path + ": truncated: it holds " + std::to_string(decoded) + " of the " +
                       std::to_string(announced) + " frames its header announces");
    }
    if (decoded == 0) {
      throw InputError(info.path + ": holds no samples (the file is empty)");
    }
    file.reset();
    decoded_all = true;
  }

  // Fills `out` with the next samples, converted when asked, as far as the
  // file goes; returns how many (fewer than out.size() only at the end).
  std::size_t fill(const AudioInfo& info, std::span<double> out) {
    if (!started) {
      started = true;
      if (subformat != SF_FORMAT_PCM_16) {
        sf_command(file.get(), SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);
      }
      if (info.resampled_from_rate != 0) {
        resampler = std::make_unique<Resampler>(info.resampled_from_rate, info.rate, info.path);
        picked.resize(static_cast<std::size_t>(kChunkFrames));
      }
    }
    std::size_t n = 0;
    while (n < out.size()) {
      if (!resampler) {
        if (decoded_all) {
          break;
        }
        const std::size_t got = decode(info, out.subspan(n));
        if (got == 0) {
          end(info);
          break;
        }
        n += got;
        continue;
      }
      // Converted samples come from `pending`; a non-finite sample is noted
      // at the file's own position, since the converter spreads it over its
      // neighbours.
      const std::size_t hold = decoded_all ? 0 : kHoldBack;
      const std::size_t ready = pending.size() - pending_at;
      if (ready > hold) {
        const std::size_t take = std::min(ready - hold, out.size() - n);
        std::copy_n(pending.begin() + static_cast<std::ptrdiff_t>(pending_at), take,
                    out.begin() + static_cast<std::ptrdiff_t>(n));
        pending_at += take;
        n += take;
        continue;
      }
      if (decoded_all) {
        break;
      }
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(pending_at));
      pending_at = 0;
      const std::int64_t at = decoded;
      const std::size_t got = decode(info, picked);
      if (got == 0) {
        end(info);
        resampler->finish(pending);
        continue;
      }
      const std::span<const double> x(picked.data(), got);
      if (non_finite < 0) {
        for (std::size_t i = 0; i < got; ++i) {
          if (!std::isfinite(x[i])) {
            non_finite = at + static_cast<std::int64_t>(i);
            break;
          }
        }
      }
      resampler->feed(x, pending);
      if (given + static_cast<std::int64_t>(n + pending.size()) > kMaxFrames) {
        throw InputError(info.path + ": more than " + std::to_string(kMaxFrames) + " frames at " +
                         std::to_string(info.rate) + " Hz, more than the libraries can take");
      }
    }
    given += static_cast<std::int64_t>(n);
    return n;
  }
};

SampleSource::SampleSource(const std::string& path, int channel) : file_(std::make_unique<File>()) {
  if (const std::string why = unopenable(path); !why.empty()) {
    throw InputError(path + ": " + why);
  }
  SF_INFO sf{};
  file_->file.reset(sf_open(path.c_str(), SFM_READ, &sf));
  if (!file_->file) {
    throw InputError(path + ": " + open_error());
  }
  AudioInfo& info = info_;
  info.path = path;
  info.container = container_name(sf.format & SF_FORMAT_TYPEMASK);
  file_->subformat = sf.format & SF_FORMAT_SUBMASK;
  info.encoding = encoding_name(file_->subformat);
  info.scale = file_->subformat == SF_FORMAT_PCM_16 ? Scale::kInteger16 : Scale::kNormalised;
  info.rate = sf.samplerate;
  info.channels = sf.channels;
  static_assert(SF_COUNT_MAX == kUnknownFrames);
  info.frames = sf.frames;
  info.truncated = data_chunk_cut(file_->file.get());
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
  if (sf.frames == 0) {
    throw InputError(path + ": holds no samples (the file is empty)");
  }
  if (sf.frames > kMaxFrames && sf.frames != kUnknownFrames) {
    throw InputError(path + ": " + std::to_string(sf.frames) + " frames, more than the " +
                     std::to_string(kMaxFrames) + " the libraries can take");
  }
}

SampleSource::SampleSource(const Audio& audio) : memory_(&audio), info_(audio.info) {}

SampleSource::~SampleSource() = default;
SampleSource::SampleSource(SampleSource&&) noexcept = default;
SampleSource& SampleSource::operator=(SampleSource&&) noexcept = default;

void SampleSource::resample_to(int rate) {
  if (rate == info_.rate || !file_ || file_->started) {
    return;
  }
  info_.resampled_from_rate = info_.rate;
  info_.resampled_from_frames = info_.frames;
  info_.rate = rate;
  if (info_.frames != kUnknownFrames) {
    info_.frames = resampled_length(info_.frames, info_.resampled_from_rate, rate);
    if (info_.frames > kMaxFrames) {
      throw InputError(info_.path + ": " + std::to_string(info_.frames) + " frames at " +
                       std::to_string(rate) + " Hz, more than the " + std::to_string(kMaxFrames) +
                       " the libraries can take");
    }
  }
}

std::span<const double> SampleSource::next() {
  if (ended_) {
    return {};
  }
  if (memory_ != nullptr) {
    const std::size_t n = std::min(kChunk, memory_->samples.size() - memory_at_);
    const std::span<const double> s(memory_->samples.data() + memory_at_, n);
    memory_at_ += n;
    ended_ = n == 0;
    return s;
  }
  File& f = *file_;
  f.chunk.resize(kChunk);
  const std::size_t n = f.fill(info_, f.chunk);
  if (n == 0) {
    // The lengths read are the file's from now on.
    ended_ = true;
    info_.frames = f.given;
    if (info_.resampled_from_rate != 0) {
      info_.resampled_from_frames = f.decoded;
    }
  }
  return {f.chunk.data(), n};
}

std::int64_t SampleSource::file_non_finite() const {
  return memory_ != nullptr ? memory_->file_non_finite : file_->non_finite;
}

Audio SampleSource::read_all() {
  const std::int64_t announced =
      info_.resampled_from_rate != 0 ? info_.resampled_from_frames : info_.frames;
  Audio audio;
  try {
    if (info_.frames > 0 && info_.frames <= kMaxFrames) {
      audio.samples.reserve(static_cast<std::size_t>(info_.frames));
    }
    for (std::span<const double> c = next(); !c.empty(); c = next()) {
      audio.samples.insert(audio.samples.end(), c.begin(), c.end());
    }
  } catch (const std::bad_alloc&) {
    if (announced == kUnknownFrames) {
      throw OutOfMemory(info_.path + ": out of memory reading it");
    }
    char mib[32];
    std::snprintf(mib, sizeof(mib), "%.0f", static_cast<double>(announced) * 8.0 / 1048576.0);
    throw OutOfMemory(info_.path + ": out of memory reading its " + std::to_string(announced) +
                      " samples (" + mib + " MiB as doubles)");
  }
  audio.info = info_;
  audio.info.frames = static_cast<std::int64_t>(audio.samples.size());
  audio.file_non_finite = file_non_finite();
  return audio;
}

Audio read_channel(const std::string& path, int channel) {
  return SampleSource(path, channel).read_all();
}

}  // namespace cli
