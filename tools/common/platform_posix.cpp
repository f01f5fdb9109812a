// The tools' system calls on Linux (common/platform.h): file names are the
// bytes the system gives, passed through as they are.
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "common/command_line.h"
#include "common/platform.h"
#include "common/sample_source.h"

namespace cli {
namespace {

// Bytes of a descriptor, read with pread so that processes forked with the
// descriptor share no offset.
class DescriptorReader final : public ByteReader {
 public:
  explicit DescriptorReader(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~DescriptorReader() override {
    if (owned_) {
      ::close(fd_);
    }
  }
  DescriptorReader(const DescriptorReader&) = delete;
  DescriptorReader& operator=(const DescriptorReader&) = delete;

  std::int64_t read_at(void* to, std::size_t n, std::int64_t offset) const override {
    for (;;) {
      const ssize_t got = ::pread(fd_, to, n, offset);
      if (got >= 0 || errno != EINTR) {
        return got;
      }
    }
  }

 private:
  int fd_;
  bool owned_;
};

std::string mebibytes(std::int64_t bytes) {
  char b[32];
  std::snprintf(b, sizeof(b), "%.0f", static_cast<double>(bytes) / 1048576.0);
  return b;
}

// A regular file (a redirection) as it is, from its offset on; anything
// else (a pipe, a terminal) copied whole into an anonymous file in memory as
// it comes, its encoded bytes (a 16-bit mono file: 2 bytes a sample, a
// quarter of the samples measured as doubles).
HeldInput hold_standard_input() {
  struct stat st {};
  if (::fstat(STDIN_FILENO, &st) != 0) {
    throw InputError(std::string("-: cannot read standard input: ") + std::strerror(errno));
  }
  if (S_ISREG(st.st_mode)) {
    static const DescriptorReader in(STDIN_FILENO, false);
    const off_t at = ::lseek(STDIN_FILENO, 0, SEEK_CUR);
    const std::int64_t base = at > 0 && at <= st.st_size ? at : 0;
    return {&in, base, st.st_size - base};
  }
  const int fd = ::memfd_create("standard input", MFD_CLOEXEC);
  if (fd < 0) {
    throw std::runtime_error(std::string("-: cannot hold standard input in memory: ") +
                             std::strerror(errno));
  }
  static const DescriptorReader held(fd, false);
  std::vector<char> buffer(kChunk * 16);
  std::int64_t length = 0;
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (n == 0) {
      return {&held, 0, length};
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      throw InputError(std::string("-: cannot read standard input: ") + std::strerror(errno));
    }
    for (ssize_t put = 0; put < n;) {
      const ssize_t w = ::write(fd, buffer.data() + put, static_cast<std::size_t>(n - put));
      if (w < 0 && errno == EINTR) {
        continue;
      }
      if (w <= 0) {
        throw OutOfMemory("-: out of memory holding standard input (" + mebibytes(length + put) +
                          " MiB read)");
      }
      put += w;
    }
    length += n;
  }
}

// Permissions of a new file as open(2) would give them: 0666 less the umask.
mode_t new_file_mode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

std::vector<std::string> program_arguments(int argc, char** argv) {
  return {argv + 1, argv + argc};
}

std::FILE* open_file(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

SNDFILE* open_sound_file(const std::string& path, int mode, SF_INFO* info) {
  return sf_open(path.c_str(), mode, info);
}

std::filesystem::path filesystem_path(const std::string& path) {
  return path;
}

std::string utf8_path(const std::filesystem::path& path) {
  return path.string();
}

PathKind path_kind(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    return PathKind::kAbsent;
  }
  return S_ISREG(st.st_mode)   ? PathKind::kRegular
         : S_ISDIR(st.st_mode) ? PathKind::kFolder
                               : PathKind::kOther;
}

bool same_file(const std::string& input, const std::string& output) {
  struct stat out {};
  struct stat in {};
  const int got = input == "-" ? ::fstat(STDIN_FILENO, &in) : ::stat(input.c_str(), &in);
  return ::stat(output.c_str(), &out) == 0 && got == 0 && in.st_dev == out.st_dev &&
         in.st_ino == out.st_ino;
}

std::unique_ptr<ByteReader> open_bytes(const std::string& path, std::int64_t& length) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  auto reader = std::make_unique<DescriptorReader>(fd, true);
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    return nullptr;
  }
  length = st.st_size;
  return reader;
}

// Read at the first use and kept for the process and the workers forked
// after it.
const HeldInput& standard_input() {
  static const HeldInput held = hold_standard_input();
  return held;
}

std::string create_temporary_beside(const std::filesystem::path& target) {
  // ".NAME.XXXXXX" in the target's folder: rename() stays within one file
  // system, and the dot keeps it out of plain listings meanwhile.
  std::string name = ".";
  name += target.filename().string();
  name += ".XXXXXX";
  std::string pattern = (target.parent_path() / name).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    return "";
  }
  ::fchmod(fd, new_file_mode());
  ::close(fd);
  return pattern;
}

bool replace_file(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

void remove_file(const std::string& path) {
  ::unlink(path.c_str());
}

// Output held in memory: nothing reaches stdout when the run fails, and the
// one write at the end meets a failing stdout with an errno that tells why.
struct HeldOutput::State {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* file = nullptr;
};

HeldOutput::HeldOutput() : state_(std::make_unique<State>()) {
  state_->file = open_memstream(&state_->data, &state_->size);
}

HeldOutput::~HeldOutput() {
  if (state_->file != nullptr) {
    std::fclose(state_->file);
  }
  std::free(state_->data);
}

std::FILE* HeldOutput::file() const {
  return state_->file;
}

int HeldOutput::pass_to(std::FILE* out) {
  State& s = *state_;
  const bool held = std::fclose(s.file) == 0;
  s.file = nullptr;
  if (!held) {
    throw std::bad_alloc();
  }
  errno = 0;
  if (std::fwrite(s.data, 1, s.size, out) != s.size || std::fflush(out) != 0) {
    return errno != 0 ? errno : EIO;
  }
  return 0;
}

bool progress_terminal(std::FILE* stream) {
  return ::isatty(::fileno(stream)) != 0;
}

}  // namespace cli
