#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <stdexcept>

#ifdef _WIN32
#include <process.h>
#define am_getpid _getpid
#else
#include <unistd.h>
#define am_getpid getpid
#endif

namespace tools_test {
namespace {

template <class T>
void write_items(const std::string& path, int format, int rate, int channels,
                 const std::vector<T>& items, sf_count_t (*put)(SNDFILE*, const T*, sf_count_t)) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) {
    throw std::runtime_error(path + ": " + sf_strerror(nullptr));
  }
  const auto n = static_cast<sf_count_t>(items.size());
  const bool ok = put(f, items.data(), n) == n;
  sf_close(f);
  if (!ok) {
    throw std::runtime_error(path + ": short write");
  }
}

std::string contents(std::FILE* f) {
  std::string s;
  std::rewind(f);
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof(buffer), f)) > 0;) {
    s.append(buffer, n);
  }
  std::fclose(f);
  return s;
}

}  // namespace

Scratch::Scratch() {
  static std::atomic<int> counter{0};
  dir_ = std::filesystem::temp_directory_path() /
         ("am_tools_test_" + std::to_string(am_getpid()) + "_" + std::to_string(counter++));
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
}

Scratch::~Scratch() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void write_shorts(const std::string& path, int format, int rate, int channels,
                  const std::vector<short>& items) {
  write_items(path, format, rate, channels, items, sf_write_short);
}
void write_ints(const std::string& path, int format, int rate, int channels,
                const std::vector<int>& items) {
  write_items(path, format, rate, channels, items, sf_write_int);
}
void write_floats(const std::string& path, int format, int rate, int channels,
                  const std::vector<float>& items) {
  write_items(path, format, rate, channels, items, sf_write_float);
}
void write_doubles(const std::string& path, int format, int rate, int channels,
                   const std::vector<double>& items) {
  write_items(path, format, rate, channels, items, sf_write_double);
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) {
    throw std::runtime_error(path + ": cannot write");
  }
}

Ran run(const std::function<int(const std::vector<std::string>&, std::FILE*, std::FILE*)>& program,
        const std::vector<std::string>& args, const char* out_path) {
  std::FILE* out = out_path != nullptr ? std::fopen(out_path, "w") : std::tmpfile();
  std::FILE* err = std::tmpfile();
  if (out == nullptr || err == nullptr) {
    throw std::runtime_error("no temporary file");
  }
  Ran r{};
  r.status = program(args, out, err);
  if (out_path != nullptr) {
    std::fclose(out);
  } else {
    r.out = contents(out);
  }
  r.err = contents(err);
  return r;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    out.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return out;
}

void expect_refused(const Ran& r, const std::string& program, int status, const std::string& says) {
  EXPECT_EQ(r.status, status) << r.err;
  EXPECT_EQ(r.out, "");
  const std::vector<std::string> all = lines(r.err);
  ASSERT_EQ(all.size(), 1u) << r.err;
  EXPECT_EQ(all[0].rfind(program + ": ", 0), 0u) << all[0];
  EXPECT_NE(all[0].find(says), std::string::npos) << all[0];
}

}  // namespace tools_test
