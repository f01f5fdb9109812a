#include "common/sample_source.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <string_view>

#include "common/command_line.h"
#include "common/platform.h"
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

// Whether libsndfile found the header announcing more audio data than the
// file holds, in which case it gives the frames the file holds. Each
// container's reader says so in its log in words of its own:
//   WAV, WAVEX  "data : <bytes announced> (should be <bytes held>)"
//   AIFF        "SSND : <announced> (should be <held>)"
//   AU          "Data Size : <announced> (should be <held>)"
//   W64         "riff : <announced> (should be <held>)" (it leaves the data
//               chunk's own size unchecked)
//   RF64        "*** Calculated frame count <held> does not match value from
//               'ds64' chunk of <announced>."
//   CAF         "data : <announced> (should be <held>)", when it opens it
//               (see File::open)
// Readers that take the header's count whatever the file holds (FLAC, a
// CAF file opened as longer than it is) show it at the end of reading.
bool header_cut(SNDFILE* file) {
  std::string log(16384, '\0');
  sf_command(file, SFC_GET_LOG_INFO, log.data(), static_cast<int>(log.size()));
  log.resize(log.find('\0'));
  for (std::size_t at = 0; at < log.size();) {
    std::size_t end = log.find('\n', at);
    end = end == std::string::npos ? log.size() : end;
    std::string line = log.substr(at, end - at);
    at = end + 1;
    line.erase(0, line.find_first_not_of(' '));
    long long announced = 0;
    long long held = 0;
    for (const std::string_view key : {"data", "SSND", "Data Size", "riff"}) {
      const std::size_t colon = line.find_first_not_of(' ', key.size());
      if (line.rfind(key, 0) == 0 && colon != std::string::npos &&
          line.compare(colon, 2, ": ") == 0 &&
          std::sscanf(line.c_str() + colon + 2, "%lld (should be %lld)", &announced, &held) == 2 &&
          announced > held) {
        return true;
      }
    }
    if (std::sscanf(
            line.c_str(),
            "*** Calculated frame count %lld does not match value from 'ds64' chunk of %lld", &held,
            &announced) == 2 &&
        held < announced) {
      return true;
    }
  }
  return false;
}

// A file that libsndfile reads through its virtual I/O: `length` bytes of
// `reader` from `base` on, read at offsets of their own so that readers of
// one file (workers of a batch, standard input read again) share no
// position. libsndfile is told the file is `apparent` bytes long, which may
// be more than it holds.
struct Bytes {
  const ByteReader* reader = nullptr;
  sf_count_t base = 0;
  sf_count_t length = 0;
  sf_count_t apparent = 0;
  sf_count_t at = 0;  // libsndfile's position
  int error = 0;      // the errno of a read that failed, else 0
};

sf_count_t bytes_length(void* user) {
  return static_cast<Bytes*>(user)->apparent;
}

sf_count_t bytes_seek(sf_count_t offset, int whence, void* user) {
  Bytes& b = *static_cast<Bytes*>(user);
  const sf_count_t from = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? b.at : b.apparent;
  b.at = std::clamp<sf_count_t>(from + offset, 0, b.apparent);
  return b.at;
}

sf_count_t bytes_read(void* to, sf_count_t count, void* user) {
  Bytes& b = *static_cast<Bytes*>(user);
  sf_count_t done = 0;
  while (done < count && b.at < b.length) {
    const auto want = static_cast<std::size_t>(std::min(count - done, b.length - b.at));
    const std::int64_t n = b.reader->read_at(static_cast<char*>(to) + done, want, b.base + b.at);
    if (n <= 0) {
      b.error = n < 0 ? errno : 0;
      break;
    }
    done += n;
    b.at += n;
  }
  return done;
}

sf_count_t bytes_write(const void*, sf_count_t, void*) {
  return 0;
}

sf_count_t bytes_tell(void* user) {
  return static_cast<Bytes*>(user)->at;
}

SNDFILE* open_virtual(Bytes& bytes, SF_INFO& sf) {
  SF_VIRTUAL_IO io{bytes_length, bytes_seek, bytes_read, bytes_write, bytes_tell};
  sf = SF_INFO{};
  return sf_open_virtual(&io, SFM_READ, &sf, &bytes);
}

// The length a CAF file that libsndfile refuses is opened with again (see
// SampleSource::File::open): far beyond any file, with room for a header's
// sizes to be added to it.
constexpr sf_count_t kApparentLength = INT64_MAX / 4;

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
  switch (path_kind(path)) {
    case PathKind::kAbsent:  // libsndfile names the reason (no such file, no permission)
    case PathKind::kRegular:
      return "";
    case PathKind::kFolder:
      return "is a folder, not an audio file";
    case PathKind::kOther:
      break;
  }
  return "is not a regular file (a pipe, device or socket); the tools read audio files";
}

// libsndfile keeps the reason a file could not be opened in one place for
// the whole process: a batch's threads open their files one at a time, each
// reading its own reason before the next open.
std::mutex opening;

// libsndfile's reason for refusing to open a file, in the tools' words.
std::string open_error() {
  std::string why = sf_strerror(nullptr);
  // A header whose sample rate is 0 fails libsndfile's check of the format
  // it read ("SF_INFO struct incomplete"); a channel count of 0 has its own
  // message.
  if (why.find("SF_INFO struct incomplete") != std::string::npos) {
    return "the header gives a sample rate of 0 Hz";
  }
  // libsndfile's system errors read "System error : ..."; keep the reason,
  // without its full stop and line end (CR LF in Windows' own messages).
  const std::string prefix = "System error : ";
  if (why.rfind(prefix, 0) == 0) {
    why.erase(0, prefix.size());
  }
  while (!why.empty() && (why.back() == '.' || why.back() == '\n' || why.back() == '\r')) {
    why.pop_back();
  }
  return "cannot read it as audio: " + why;
}

}  // namespace

struct SampleSource::File {
  // The file's bytes, for a CAF file opened again.
  std::unique_ptr<ByteReader> own_bytes;
  std::unique_ptr<Bytes> bytes;  // what libsndfile reads, when not the file by its path
  SndFile file;
  bool cut = false;  // the file ended before the frames its header announced
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

  // Opens `path` ("-": standard input) with its header read into `sf`;
  // throws InputError with libsndfile's reason.
  void open(const std::string& path, SF_INFO& sf) {
    const std::lock_guard<std::mutex> lock(opening);
    if (path == "-") {
      const HeldInput& in = standard_input();
      if (in.length == 0) {
        throw InputError("-: holds no samples (standard input is empty)");
      }
      bytes = std::make_unique<Bytes>(Bytes{in.reader, in.base, in.length, in.length});
      file.reset(open_virtual(*bytes, sf));
    } else {
      file.reset(open_sound_file(path, SFM_READ, &sf));
    }
    if (file) {
      return;
    }
    // libsndfile reads a file whose header announces more audio data than
    // the file holds as far as it goes, but calls a CAF file malformed when
    // its data chunk's size is more than the whole file's. Told that such a
    // file is as long as its header needs, it opens it with the header's
    // frames and reads what is there; the end of reading then finds it cut
    // short. (A CAF file cut less short than that it opens, and reads
    // 8 bytes short of its end; those numbers stand.)
    const std::string why = open_error();
    if (path != "-") {
      std::int64_t length = 0;
      own_bytes = open_bytes(path, length);
      if (!own_bytes) {
        throw InputError(path + ": " + why);
      }
      bytes = std::make_unique<Bytes>(Bytes{own_bytes.get(), 0, length, length});
    }
    char magic[4] = {};
    bytes->at = 0;
    if (bytes_read(magic, sizeof(magic), bytes.get()) == sizeof(magic) &&
        std::memcmp(magic, "caff", sizeof(magic)) == 0) {
      bytes->at = 0;
      bytes->apparent = kApparentLength;
      file.reset(open_virtual(*bytes, sf));
    }
    if (!file) {
      throw InputError(path + ": " + why);
    }
  }

  // The checks once the file is decoded, then the file closed. A file that
  // ends before the frames its header announced is cut short: it is
  // measured as far as it goes.
  void end(const AudioInfo& info) {
    const std::int64_t announced = resampler ? info.resampled_from_frames : info.frames;
    if (bytes && bytes->error != 0) {
      throw InputError(info.path + ": cannot read it: " + std::strerror(bytes->error));
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
      throw InputError(info.path + ": cannot decode it: " + sf_strerror(file.get()));
    }
    cut = announced != kUnknownFrames && decoded < announced;
    if (decoded == 0) {
      throw InputError(info.path + (cut ? ": holds none of the " + std::to_string(announced) +
                                              " frames its header announces (cut short?)"
                                        : ": holds no samples (the file is empty)"));
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
  file_->open(path, sf);
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
  info.truncated = header_cut(file_->file.get());
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
    throw InputError(
        path + (info.truncated ? ": holds no samples, where its header announces some (cut short?)"
                               : ": holds no samples (the file is empty)"));
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
    info_.truncated = info_.truncated || f.cut;
    info_.frames = f.given;
    if (info_.resampled_from_rate != 0) {
      info_.resampled_from_frames = f.decoded;
    }
  }
  return {f.chunk.data(), n};
}

SampleSource SampleSource::again() const {
  if (memory_ != nullptr) {
    return SampleSource(*memory_);
  }
  SampleSource source(info_.path, info_.channel);
  if (info_.resampled_from_rate != 0) {
    source.resample_to(info_.rate);
  }
  return source;
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
