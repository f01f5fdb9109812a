#include "common/resample.h"

#include <soxr.h>

#include <algorithm>

#include "common/command_line.h"

namespace cli {
namespace {

struct Deleter {
  void operator()(soxr* s) const { soxr_delete(s); }
};

}  // namespace

std::int64_t resampled_length(std::int64_t n, int from, int to) {
  // n = q * from + r: q * to exactly, then round(r * to / from) with
  // 2 r to < 2^63.
  const std::int64_t q = n / from;
  const std::int64_t r = n % from;
  return q * to + (2 * r * to + from) / (2 * static_cast<std::int64_t>(from));
}

struct Resampler::State {
  std::unique_ptr<soxr, Deleter> converter;
  std::string path;
  int from = 0;
  int to = 0;
  std::int64_t fed = 0;
  std::int64_t given = 0;  // samples the converter gave
};

Resampler::Resampler(int from, int to, const std::string& path)
    : state_(std::make_unique<State>()) {
  state_->path = path;
  state_->from = from;
  state_->to = to;
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  soxr_error_t error = nullptr;
  state_->converter.reset(soxr_create(from, to, 1, &error, &io, &quality, &runtime));
  if (error != nullptr || !state_->converter) {
    throw InputError(path + ": cannot resample " + std::to_string(from) + " Hz to " +
                     std::to_string(to) + " Hz: " + (error != nullptr ? error : "libsoxr failed"));
  }
}

Resampler::~Resampler() = default;

namespace {

// Runs one soxr_process call into the end of `out`, with room for what
// `in_count` samples can give, and returns (input used, output given).
std::pair<std::size_t, std::size_t> process(soxr* s, const double* in, std::size_t in_count,
                                            std::vector<double>& out, int from, int to,
                                            const std::string& path) {
  const std::size_t room =
      static_cast<std::size_t>(resampled_length(static_cast<std::int64_t>(in_count), from, to)) +
      4096;
  const std::size_t had = out.size();
  out.resize(had + room);
  std::size_t used = 0;
  std::size_t given = 0;
  const soxr_error_t error = soxr_process(s, in, in_count, in != nullptr ? &used : nullptr,
                                          out.data() + had, room, &given);
  out.resize(had + given);
  if (error != nullptr) {
    throw InputError(path + ": resampling failed: " + error);
  }
  return {used, given};
}

}  // namespace

void Resampler::feed(std::span<const double> in, std::vector<double>& out) {
  State& st = *state_;
  std::size_t done = 0;
  while (done < in.size()) {
    const auto [used, given] = process(st.converter.get(), in.data() + done, in.size() - done, out,
                                       st.from, st.to, st.path);
    if (used == 0 && given == 0) {
      throw InputError(st.path + ": resampling stalled");
    }
    done += used;
    st.given += static_cast<std::int64_t>(given);
  }
  st.fed += static_cast<std::int64_t>(in.size());
}

void Resampler::finish(std::vector<double>& out) {
  State& st = *state_;
  // The end of input: libsoxr gives its tail until it has nothing left.
  for (;;) {
    const auto given = process(st.converter.get(), nullptr, 0, out, st.from, st.to, st.path).second;
    if (given == 0) {
      break;
    }
    st.given += static_cast<std::int64_t>(given);
  }
  // Cut or pad the end of `out` by what the converter gave beyond, or short
  // of, the exact length.
  const std::int64_t extra = st.given - resampled_length(st.fed, st.from, st.to);
  const std::int64_t keep = static_cast<std::int64_t>(out.size()) - extra;
  out.resize(static_cast<std::size_t>(std::max<std::int64_t>(keep, 0)), 0.0);
  st.given -= extra;
}

}  // namespace cli
