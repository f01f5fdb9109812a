// The samples the tools measure, from one source: an audio file read with
// libsndfile ("-" is standard input) or samples already in memory, handed
// out chunk by chunk, converted to another rate by libsoxr when asked.
//
// Standard input is read as a file: one that is not a regular file (a
// pipe) is first copied whole into memory, as its encoded bytes, so that
// libsndfile can seek in it (FLAC's decoder does) and knows its length, and
// so that it can be read again.
//
// Samples come out as doubles on the libraries' 16-bit scale (full scale
// 32767), by this rule:
//   - 16-bit PCM: the integer sample value itself, -32768 .. 32767;
//   - every other encoding (8-, 24- and 32-bit PCM, 32- and 64-bit float,
//     and what libsndfile decodes, such as A-law or FLAC): libsndfile's
//     normalised value v, on which full scale is 1.0, times 32767, that one
//     product rounded to the nearest double. For B-bit PCM v is the integer
//     divided by 2^(B-1), exactly; float data is v itself, widened exactly,
//     values beyond +-1.0 and non-finite values included.
// So a 24-bit sample 256 n reads as n * 32767 / 32768, not as n: only
// 16-bit files carry integer values.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audiomeasure.h"

namespace cli {

enum class Scale : std::uint8_t {
  kInteger16,   // 16-bit PCM: integer values
  kNormalised,  // libsndfile's normalised value times 32767
};

// A file as the reports describe it.
struct AudioInfo {
  std::string path;
  std::string container;  // "WAV (Microsoft)", "FLAC", ...
  std::string encoding;   // "16-bit PCM", "32-bit float", ...
  int rate = 0;           // samples per second
  int channels = 0;
  int channel = 0;          // the channel read, 1-based
  std::int64_t frames = 0;  // samples per channel
  Scale scale = Scale::kNormalised;
  // The file ends before the frames its header announces (a recording cut
  // short); the samples that are there are read. Known from the header for
  // WAV, AIFF, AU, W64 and RF64 files (and a CAF file cut near its end),
  // whose `frames` are then what they hold; for others (FLAC, a CAF file
  // cut further) only once the source has ended.
  bool truncated = false;
  // Set when the samples are converted from the file's own rate
  // (SampleSource::resample_to): that rate and the file's frames. `rate`
  // and `frames` are then those of the converted samples.
  int resampled_from_rate = 0;
  std::int64_t resampled_from_frames = 0;
};

// A whole channel in memory.
struct Audio {
  AudioInfo info;
  std::vector<double> samples;  // on the 16-bit scale
  // A resampled file: its first NaN or infinite sample, counted from 0 at
  // its own rate; -1 when there is none (or the file was not resampled).
  std::int64_t file_non_finite = -1;
};

// The most frames a file may hold: what the library measures.
inline constexpr std::int64_t kMaxFrames = AM_MAX_SAMPLES;

// AudioInfo::frames of a file whose header gives no length (a stream read
// from standard input): its length is known once it has been read.
inline constexpr std::int64_t kUnknownFrames = INT64_MAX;

// The samples a chunk holds at most.
inline constexpr std::size_t kChunk = 65536;

// A file, opened with its header read and its samples not yet, so that the
// tools check lengths and rates before reading gigabytes; or samples held
// in memory. `channel` is 1-based; 0 means "not chosen", which a mono file
// allows and a file of several channels refuses. A mono file is read
// whatever `channel` says.
//
// Only regular files are opened (a pipe without a writer would block
// forever; a folder is no audio), and "-", standard input. The constructor
// throws InputError when the file cannot be opened, its header gives no
// rate or channels, holds no frames or more than kMaxFrames, or lacks the
// channel; standard input that cannot be held in memory is OutOfMemory.
class SampleSource {
 public:
  SampleSource(const std::string& path, int channel);
  // The samples of `audio`, which must outlive the source.
  explicit SampleSource(const Audio& audio);
  ~SampleSource();
  SampleSource(SampleSource&&) noexcept;
  SampleSource& operator=(SampleSource&&) noexcept;

  // The header's description until the source has ended; then `frames` (and
  // `resampled_from_frames`) count what was read.
  const AudioInfo& info() const { return info_; }

  // Converts the samples to `rate` Hz as they are read (common/resample.h)
  // when the file has another rate: info() then gives `rate`, the converted
  // length and the file's own rate and length. Call it before reading.
  // Throws InputError when the converted length is more than kMaxFrames.
  void resample_to(int rate);

  // The next samples, at most kChunk, as a view valid until the next call;
  // empty once the source has ended. Memory stays bounded whatever the
  // file's length. Throws InputError for data that cannot be read or
  // decoded, or that exceeds kMaxFrames. A file that ends before its
  // header's length is marked truncated at the end.
  std::span<const double> next();
  bool ended() const { return ended_; }

  // A new source of the same samples from their start: the file opened
  // again (standard input is held), with the same channel and conversion.
  SampleSource again() const;

  // For a resampled file, its first NaN or infinite sample read so far,
  // counted from 0 at its own rate (the converter spreads one over its
  // neighbours); -1 when there is none.
  std::int64_t file_non_finite() const;

  // The samples not read yet, in memory. Throws as next() does, and
  // OutOfMemory, naming the file, when they do not fit.
  Audio read_all();

 private:
  struct File;
  std::unique_ptr<File> file_;     // a file being read, or null
  const Audio* memory_ = nullptr;  // samples in memory, or null
  std::size_t memory_at_ = 0;      // the next of them to give
  AudioInfo info_;
  bool ended_ = false;
};

// SampleSource(path, channel).read_all().
Audio read_channel(const std::string& path, int channel);

}  // namespace cli
