// Output files of the tools (--plot, the WAV files of --make-demo): checked
// before the measurement, written under a temporary name in their own
// folder and renamed into place, so that an interrupted run leaves the old
// file or none, never half a file, and never an input overwritten.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Refuses an output path that names one of the inputs, however spelt
// (compared by device and inode, "-" as standard input): UsageError naming
// `option`. Refuses an existing path that is not a regular file (a device
// such as /dev/full, a folder, a pipe): OutputError. Nothing is written.
void check_output_path(const std::string& option, const std::string& path,
                       const std::vector<std::string>& inputs);

// A temporary file beside `path`, created at once (so an unwritable folder
// shows before any work), renamed onto `path` by commit() and removed by the
// destructor when commit() was not reached. When `path` is a symbolic link,
// the file it names is the one replaced. Throws OutputError.
class AtomicOutput {
 public:
  explicit AtomicOutput(const std::string& path);
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  const std::string& temporary() const { return temporary_; }
  // Renames the temporary file onto the path.
  void commit();

 private:
  std::string path_;    // as given, for messages
  std::string target_;  // the file replaced: path_ with symbolic links followed
  std::string temporary_;
  bool committed_ = false;
};

// A text output file, its temporary created at once: write_and_close()
// writes all of the text and renames it into place. Throws OutputError.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  void write_and_close(const std::string& text);

 private:
  std::string path_;
  AtomicOutput target_;
};

// Writes mono 16-bit PCM WAV: each sample rounded to the nearest integer
// (halves to even) and limited to -32768 .. 32767, through an AtomicOutput.
// Throws OutputError.
void write_wav16(const std::string& path, const std::vector<double>& samples, int rate);

}  // namespace cli
