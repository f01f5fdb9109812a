// Audio files for the command-line tools, read and written with libsndfile.
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
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// A file the tools cannot measure, or cannot measure as asked: the message
// is one line that names the file and what is wrong.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An output file that cannot be written.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Memory ran out while reading a file: the message names the file.
class OutOfMemory : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Scale : std::uint8_t {
  kInteger16,   // 16-bit PCM: integer values
  kNormalised,  // libsndfile's normalised value times 32767
};

struct AudioInfo {
  std::string path;
  std::string container;  // "WAV", "FLAC", ...
  std::string encoding;   // "16-bit PCM", "32-bit float", ...
  int rate = 0;           // samples per second
  int channels = 0;
  int channel = 0;          // the channel read, 1-based
  std::int64_t frames = 0;  // samples per channel
  Scale scale = Scale::kNormalised;
  // The header announces more audio data than the file holds (a recording
  // cut short); the samples that are there were read.
  bool truncated = false;
  // Set when the samples are converted from the file's own rate
  // (InputFile::resample_to): that rate and the file's frames. `rate` and
  // `frames` are then those of the converted samples.
  int resampled_from_rate = 0;
  std::int64_t resampled_from_frames = 0;
};

struct Audio {
  AudioInfo info;
  std::vector<double> samples;  // the chosen channel, on the 16-bit scale
  // A resampled file: its first NaN or infinite sample, counted from 0 at
  // its own rate; -1 when there is none (or the file was not resampled).
  std::int64_t file_non_finite = -1;
};

// The most frames a file may hold: the libraries count samples in 32-bit
// signed integers.
inline constexpr std::int64_t kMaxFrames = 2147483647;

// AudioInfo::frames of a file whose header gives no length (a stream read
// from standard input): its length is known once it has been read.
inline constexpr std::int64_t kUnknownFrames = INT64_MAX;

// An input file with its header read and its samples not yet, so that the
// tools check lengths and rates before reading gigabytes. `channel` is
// 1-based; 0 means "not chosen", which a mono file allows and a file of
// several channels refuses. A mono file is read whatever `channel` says.
//
// Only regular files are opened (a pipe without a writer would block
// forever; a folder is no audio), and "-", standard input, which libsndfile
// reads. Throws InputError when the file cannot be opened, its header gives
// no rate or channels, holds no frames or more than kMaxFrames, or lacks the
// channel. info().frames is the length the header gives; a WAV file whose
// data chunk is shorter than its header says is marked truncated, and
// frames is then what it holds (libsndfile reads it so).
class InputFile {
 public:
  InputFile(const std::string& path, int channel);
  ~InputFile();
  InputFile(InputFile&&) noexcept;
  InputFile& operator=(InputFile&&) noexcept;

  const AudioInfo& info() const { return info_; }

  // Converts the samples to `rate` Hz as they are read (cli/resample.h),
  // when the file has another rate: info() then gives `rate`, the converted
  // length and the file's own rate and length. Throws InputError when the
  // converted length is more than kMaxFrames.
  void resample_to(int rate);

  // Reads the samples (once). Throws InputError when the data cannot be
  // decoded or ends before the header's length, and OutOfMemory, naming the
  // file, when they do not fit in memory.
  Audio read();

  // Reads the next samples into `out` (the chosen channel, on the 16-bit
  // scale, converted when resample_to asked for it), as many as are left up
  // to out.size(), and returns how many; 0 once the file is done. Memory
  // stays bounded whatever the file's length: a decoded chunk of the file
  // and the converter's output not yet taken. At the end it throws as
  // read() does (data that cannot be decoded, ends before the header's
  // length, more than kMaxFrames). Not to be mixed with read().
  std::size_t read_chunk(std::span<double> out);
  // After read_chunk: the samples given so far, and the file's frames
  // decoded so far (at its own rate).
  std::int64_t chunk_samples() const;
  std::int64_t chunk_file_frames() const;
  // After read_chunk on a resampled file: its first NaN or infinite sample
  // decoded so far, counted from 0 at its own rate; -1 when there is none.
  std::int64_t file_non_finite() const;

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
  AudioInfo info_;
};

// InputFile(path, channel).read().
Audio read_channel(const std::string& path, int channel);

// Writes mono 16-bit PCM WAV: each sample rounded to the nearest integer
// (halves to even) and limited to -32768 .. 32767. The file is written under
// a temporary name in the same folder and renamed into place at the end, so
// an interrupted run leaves the old file or none, never half a file.
// Throws OutputError.
void write_wav16(const std::string& path, const std::vector<double>& samples, int rate);

// "16-bit PCM" and the like, for a libsndfile subformat code.
std::string encoding_name(int subformat);

}  // namespace cli
