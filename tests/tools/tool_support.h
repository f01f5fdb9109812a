// Helpers of the command-line tools' tests: a scratch folder per test, small
// audio files written with libsndfile, and a program run in-process with its
// output captured.
#pragma once

#include <sndfile.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tools_test {

// A fresh folder, removed with everything in it at the end of the scope.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

 private:
  std::filesystem::path dir_;
};

// Writes interleaved items with libsndfile: short, int (left-justified
// 32-bit), float or double, as the format's subtype stores them.
void write_shorts(const std::string& path, int format, int rate, int channels,
                  const std::vector<short>& items);
void write_ints(const std::string& path, int format, int rate, int channels,
                const std::vector<int>& items);
void write_floats(const std::string& path, int format, int rate, int channels,
                  const std::vector<float>& items);
void write_doubles(const std::string& path, int format, int rate, int channels,
                   const std::vector<double>& items);
void write_bytes(const std::string& path, const std::string& bytes);

// What a program run left behind.
struct Ran {
  int status;
  std::string out;
  std::string err;
};

// Calls program(args, out, err) with both streams captured; with
// `out_path`, out is that file opened for writing (/dev/full, say) and
// Ran::out stays empty.
Ran run(const std::function<int(const std::vector<std::string>&, std::FILE*, std::FILE*)>& program,
        const std::vector<std::string>& args, const char* out_path = nullptr);

// Lines of a text, without their newlines.
std::vector<std::string> lines(const std::string& text);

// A refusal: the status, nothing on stdout, one line on stderr that starts
// with "PROGRAM: " and says `says`.
void expect_refused(const Ran& r, const std::string& program, int status, const std::string& says);

inline bool has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace tools_test
