#include "common/output_file.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/command_line.h"
#include "common/platform.h"

namespace cli {
namespace {

std::string system_error(const std::string& path, const char* doing) {
  return path + ": " + doing + ": " + std::strerror(errno);
}

struct Closer {
  void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndFile = std::unique_ptr<SNDFILE, Closer>;

constexpr std::size_t kChunkFrames = 65536;  // samples written at a time

}  // namespace

void check_output_path(const std::string& option, const std::string& path,
                       const std::vector<std::string>& inputs) {
  const PathKind kind = path_kind(path);
  if (kind == PathKind::kAbsent) {
    return;  // a new file: its folder is checked when it is created
  }
  for (const std::string& input : inputs) {
    if (same_file(input, path)) {
      throw UsageError(option + " " + path + " is the input " + input +
                       "; writing it would destroy the input");
    }
  }
  if (kind != PathKind::kRegular) {
    throw OutputError(path + ": is not a regular file; " + option + " writes a file");
  }
}

AtomicOutput::AtomicOutput(const std::string& path) : path_(path) {
  // A symbolic link is followed, so the file it names is replaced, as
  // writing through it would.
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::canonical(filesystem_path(path), ec);
  const std::filesystem::path target = ec ? filesystem_path(path) : resolved;
  target_ = utf8_path(target);
  // In the target's folder, so that renaming it stays within one file
  // system.
  temporary_ = create_temporary_beside(target);
  if (temporary_.empty()) {
    throw OutputError(system_error(path, "cannot write it"));
  }
}

AtomicOutput::~AtomicOutput() {
  if (!committed_) {
    remove_file(temporary_);
  }
}

void AtomicOutput::commit() {
  if (!replace_file(temporary_, target_)) {
    throw OutputError(system_error(path_, "cannot write it"));
  }
  committed_ = true;
}

OutputFile::OutputFile(const std::string& path) : path_(path), target_(path) {}

void OutputFile::write_and_close(const std::string& text) {
  std::FILE* f = open_file(target_.temporary(), "wb");
  if (f == nullptr) {
    throw OutputError(system_error(path_, "cannot write it"));
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    throw OutputError(system_error(path_, "cannot write it"));
  }
  target_.commit();
}

void write_wav16(const std::string& path, const std::vector<double>& samples, int rate) {
  AtomicOutput target(path);
  SF_INFO sf{};
  sf.samplerate = rate;
  sf.channels = 1;
  sf.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SndFile file(open_sound_file(target.temporary(), SFM_WRITE, &sf));
  if (!file) {
    throw OutputError(path + ": cannot write it: " + sf_strerror(nullptr));
  }
  std::vector<short> chunk;
  chunk.reserve(kChunkFrames);
  for (std::size_t i = 0; i < samples.size();) {
    chunk.clear();
    for (; i < samples.size() && chunk.size() < kChunkFrames; ++i) {
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
  target.commit();
}

}  // namespace cli
