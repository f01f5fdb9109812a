// Sample-rate conversion of the tools' inputs (--resample), with libsoxr at
// its very-high-quality setting (SOXR_VHQ: a passband to 95 % of the lower
// Nyquist frequency, 175 dB stopband rejection, linear phase), computed in
// doubles on the samples as the tools read them (the 16-bit scale), one
// thread. The converter works chunk by chunk as a file is decoded: each
// chunk is fed as it comes, and the converter's tail is flushed at the end.
//
// Length: n samples at `from` Hz become round(n * to / from) samples at
// `to` Hz (halves up), the length that spans the same time; libsoxr's own
// count after its flush is cut or padded with zeros to it (it differs by a
// sample at most). Output sample i lies at time i / to, as input sample j
// at j / from: the filter's delay is compensated, so a signal keeps its
// place in time. The converted values depend on libsoxr's arithmetic and are
// not fixed to the last bit across builds of it or processors.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace cli {

// round(n * to / from), halves up, without overflow for n, to, from below 2^31.
std::int64_t resampled_length(std::int64_t n, int from, int to);

class Resampler {
 public:
  // Throws InputError, naming `path`, when libsoxr refuses the rates.
  Resampler(int from, int to, const std::string& path);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Converts the next input samples, appending what is ready to `out`.
  void feed(std::span<const double> in, std::vector<double>& out);
  // Flushes the converter and cuts or pads the end of `out`, which holds
  // (at least the last samples of) what feed gave, so that the converter's
  // whole output is resampled_length(samples fed) long.
  void finish(std::vector<double>& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace cli
