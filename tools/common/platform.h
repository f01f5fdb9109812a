// What the tools ask of the operating system, in one place, so that the
// rest of them is the same code on Linux and Windows: the command line and
// file names as UTF-8, files opened by those names, standard input held
// whole, temporary files renamed into place, and whether a stream is a
// terminal. platform_posix.cpp and platform_windows.cpp implement it (and
// batch_posix.cpp and batch_windows.cpp the batches' workers).
//
// File names are UTF-8 strings everywhere in the tools. On Linux they are
// the bytes the system gives, passed through unchanged; on Windows they are
// converted to and from the wide names of the system's calls, since the
// narrow ones (the ANSI code page) cannot spell every file name.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace cli {

// The program's arguments after its name, as UTF-8. On Windows they are
// read from the wide command line, with wildcards in file names expanded as
// a Linux shell would, and standard output and error are put in binary
// mode, so that every output holds the same bytes as on Linux.
std::vector<std::string> program_arguments(int argc, char** argv);

// std::fopen of a UTF-8 path.
std::FILE* open_file(const std::string& path, const char* mode);

// sf_open of a UTF-8 path.
SNDFILE* open_sound_file(const std::string& path, int mode, SF_INFO* info);

// A UTF-8 path as a std::filesystem path, and back: the same bytes on Linux.
std::filesystem::path filesystem_path(const std::string& path);
std::string utf8_path(const std::filesystem::path& path);

enum class PathKind {
  kAbsent,   // nothing there, or it cannot be looked at
  kRegular,  // a regular file
  kFolder,
  kOther,  // a pipe, device or socket
};
PathKind path_kind(const std::string& path);

// Whether `input` ("-": standard input) is the file that the existing path
// `output` names, however the two are spelt.
bool same_file(const std::string& input, const std::string& output);

// A file's bytes, read at any offset; by several threads at once when it
// is standard input held in memory.
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  // Reads at most n bytes at `offset` into `to`: how many, 0 at the end, or
  // -1 with errno set.
  virtual std::int64_t read_at(void* to, std::size_t n, std::int64_t offset) const = 0;
};

// An input file opened for its bytes, and its length; null, with errno
// set, when it cannot be opened.
std::unique_ptr<ByteReader> open_bytes(const std::string& path, std::int64_t& length);

// Standard input, held for the whole run from its first use, as a file
// that libsndfile can seek in (FLAC and CAF decoders do; a WAV's header is
// checked against its length) and the tools can read again: `length` bytes
// of `reader` from `base` on. Throws InputError when it cannot be read,
// OutOfMemory when it cannot be held.
struct HeldInput {
  const ByteReader* reader;
  std::int64_t base;
  std::int64_t length;
};
const HeldInput& standard_input();

// An empty new file beside `target`, named after it and hidden from plain
// listings, for output to be renamed onto `target`: its name, or "" with
// errno set. On Linux it gets the permissions a new file would.
std::string create_temporary_beside(const std::filesystem::path& target);
// Renames `from` onto `to`, replacing it; false with errno set.
bool replace_file(const std::string& from, const std::string& to);
void remove_file(const std::string& path);

// Output held until the run has finished (run_guarded): a stream that
// keeps what is written to it, in memory on Linux and in a temporary file
// that removes itself on Windows.
class HeldOutput {
 public:
  HeldOutput();
  ~HeldOutput();
  HeldOutput(const HeldOutput&) = delete;
  HeldOutput& operator=(const HeldOutput&) = delete;

  // The stream, or null when none could be made.
  std::FILE* file() const;
  // Writes what was held to `out` and flushes it: 0, or the errno of the
  // failure. Throws std::bad_alloc when what was written could not be held.
  int pass_to(std::FILE* out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Whether `stream` is a terminal that can show the batches' progress line
// (which rewrites itself with a carriage return and an erase sequence).
bool progress_terminal(std::FILE* stream);

}  // namespace cli
