#include "common/output_file.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "common/command_line.h"

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

// Permissions of a new file as open(2) would give them: 0666 less the umask.
mode_t new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

void check_output_path(const std::string& option, const std::string& path,
                       const std::vector<std::string>& inputs) {
  struct stat out {};
  if (::stat(path.c_str(), &out) != 0) {
    return;  // a new file: its folder is checked when it is created
  }
  for (const std::string& input : inputs) {
    struct stat in {};
    const int got = input == "-" ? ::fstat(STDIN_FILENO, &in) : ::stat(input.c_str(), &in);
    if (got == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
      throw UsageError(option + " " + path + " is the input " + input +
                       "; writing it would destroy the input");
    }
  }
  if (!S_ISREG(out.st_mode)) {
    throw OutputError(path + ": is not a regular file; " + option + " writes a file");
  }
}

AtomicOutput::AtomicOutput(const std::string& path) : path_(path) {
  // A symbolic link is followed, so the file it names is replaced, as
  // writing through it would.
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
  const std::filesystem::path target = ec ? std::filesystem::path(path) : resolved;
  target_ = target.string();
  // ".NAME.XXXXXX" in the target's folder: rename() stays within one file
  // system, and the dot keeps it out of plain listings meanwhile.
  std::string name = ".";
  name += target.filename().string();
  name += ".XXXXXX";
  std::string pattern = (target.parent_path() / name).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    throw OutputError(system_error(path, "cannot write it"));
  }
  ::fchmod(fd, new_file_mode());
  ::close(fd);
  temporary_ = pattern;
}

AtomicOutput::~AtomicOutput() {
  if (!committed_) {
    ::unlink(temporary_.c_str());
  }
}

void AtomicOutput::commit() {
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
    throw OutputError(system_error(path_, "cannot write it"));
  }
  committed_ = true;
}

OutputFile::OutputFile(const std::string& path) : path_(path), target_(path) {}

void OutputFile::write_and_close(const std::string& text) {
  std::FILE* f = std::fopen(target_.temporary().c_str(), "wb");
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
  SndFile file(sf_open(target.temporary().c_str(), SFM_WRITE, &sf));
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
