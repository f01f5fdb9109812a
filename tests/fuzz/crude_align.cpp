// The coarse alignment called directly, with references of any length (none,
// one sample, a frame, just short of or past the 720001 positions it reads)
// and any sig_tmp contents: silence up to an onset, then samples from the
// input repeated (NaN, infinities, 16-bit values, any bit pattern), at any
// gain.
//
// Checks: no read past the reference (its storage is exactly its length);
// every kernel table gives the same onsets, delay, flag and moved recording,
// bit for bit, and so does the straightforward path (on one input in eight); the delay is a
// multiple of 240 within +-720000, the flag is set exactly above 360000, b_sig_tmp is sig_tmp moved
// by the delay.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "lumetra/estimation.h"
#include "lumetra/kernels.h"
#include "support/lumetra_straight.h"

namespace {

using lumetra::kSpan;

struct Coarse {
  lumetra::Onsets onsets{};
  double delay = 0.0;
  double too_large = 0.0;
};

// Silence before `onset`, then the input's samples times gain.
void signal(const fuzz::Samples& samples, std::size_t onset, double gain, std::vector<double>& x) {
  samples.fill(x.data(), x.size());
  for (std::size_t k = 0; k < x.size(); ++k) {
    x[k] = k < onset ? 0.0 : x[k] * gain;
  }
}

std::size_t reference_length(FuzzedDataProvider& in) {
  static constexpr std::size_t kLengths[] = {0,         1,           240,        241,   481,
                                             48000,     360000,      kSpan - 1,  kSpan, kSpan + 1,
                                             kSpan + 2, kSpan + 240, kSpan + 241};
  if (in.ConsumeBool()) {
    return kLengths[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kLengths) - 1)];
  }
  return in.ConsumeIntegralInRange<std::size_t>(0, kSpan + 300);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  static std::vector<double> sig_tmp(kSpan);
  static std::vector<double> moved(kSpan);
  static std::vector<double> straight_moved(kSpan);

  const fuzz::Samples ref_samples(in);
  const fuzz::Samples rec_samples(in);
  std::vector<double> reference(reference_length(in));
  signal(ref_samples, in.ConsumeIntegralInRange<std::size_t>(0, kSpan + 1),
         fuzz::interesting_double(in), reference);
  signal(rec_samples, in.ConsumeIntegralInRange<std::size_t>(0, kSpan),
         fuzz::interesting_double(in), sig_tmp);

  // The straightforward path (6000 frame records) on one input in eight,
  // chosen by a hash of the whole input so that the corpus cannot lean
  // either way; every input compares the kernel tables with each other.
  const bool with_straight = fuzz::input_hash(data, size) % 8 == 0;
  Coarse slow;
  if (with_straight) {
    slow.onsets =
        straight::crude_align(reference.data(), static_cast<std::int64_t>(reference.size()),
                              &slow.delay, &slow.too_large, sig_tmp.data(), straight_moved.data());
  }

  bool first = !with_straight;
  for (const lumetra::kernels::Table* table :
       testing_support::runnable(lumetra::kernels::for_isa)) {
    Coarse fast;
    std::fill(moved.begin(), moved.end(), 12345.0);  // every position must be written
    fast.onsets = lumetra::crude_align(reference, &fast.delay, &fast.too_large,
                                       std::span<const double, kSpan>(sig_tmp.data(), kSpan),
                                       std::span<double, kSpan>(moved.data(), kSpan), *table);
    if (first) {
      // The first table's result stands for the others to match.
      slow = fast;
      straight_moved.swap(moved);
      first = false;
      continue;
    }
    fuzz::check(fast.onsets.reference == slow.onsets.reference &&
                    fast.onsets.recording == slow.onsets.recording,
                "onsets differ between paths");
    fuzz::check(fuzz::bits(fast.delay) == fuzz::bits(slow.delay) &&
                    fuzz::bits(fast.too_large) == fuzz::bits(slow.too_large),
                "delay differs between paths");
    fuzz::check(std::memcmp(moved.data(), straight_moved.data(), kSpan * sizeof(double)) == 0,
                "moved recording differs between paths");
  }

  const auto d = static_cast<std::int64_t>(slow.delay);
  fuzz::check(static_cast<double>(d) == slow.delay && d % 240 == 0 && d >= -kSpan && d <= kSpan,
              "delay is not a multiple of 240 within the span");
  fuzz::check(slow.too_large == (d > 360000 ? 1.0 : 0.0), "flag does not follow the delay");
  for (std::int64_t k = 0; k < kSpan; ++k) {
    const std::int64_t from = k - d;
    const double want = from >= 0 && from < kSpan ? sig_tmp[static_cast<std::size_t>(from)] : 0.0;
    fuzz::check(fuzz::bits(straight_moved[static_cast<std::size_t>(k)]) == fuzz::bits(want),
                "b_sig_tmp is not sig_tmp moved by the delay");
  }
  return 0;
}
