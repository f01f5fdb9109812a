// The summation and level functions on arbitrary records and samples:
// combineVectorElements, b_sum, b_rms on records of any extents and numDims
// (negative, huge, overflowing, null size or data); sum over 200 values,
// rms over 720000 and b_abs over 1439999 filled from the input; b_log10 of
// any value; b_rms with its one allocation refused.
//
// Checks: no read outside the records (the sanitizers); every result equals
// the plain loop that the header states, bit for bit; unreadable records give
// NaN; b_rms frees what it takes (LeakSanitizer).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "lumetra.h"
#include "runtime/alloc.h"

namespace {

constexpr std::int32_t kBudget = 1 << 14;
constexpr std::size_t kSpan = 720000;
constexpr std::size_t kLags = 2 * kSpan - 1;

// Whether the sums may read the record: its first size[0] elements, which
// the extents must hold (a {5, 0} record holds none of its five).
bool readable(const emxArray_real_T* x) {
  if (x == nullptr || x->numDims < 1 || x->size == nullptr) {
    return false;
  }
  const std::int64_t elements =
      fuzz::element_count(std::vector<std::int32_t>(x->size, x->size + x->numDims));
  return elements >= 0 && elements >= x->size[0] && (x->size[0] == 0 || x->data != nullptr);
}

// acc holds x[0] + ... + x[k-1], added left to right.
double plain_sum(const double* x, std::size_t n) {
  if (n == 0) {
    return 0.0;
  }
  double acc = x[0];
  for (std::size_t k = 1; k < n; ++k) {
    acc += x[k];
  }
  return acc;
}

// x[0]^2 + ... + x[n-1]^2, added left to right.
double plain_sum_of_squares(const double* x, std::size_t n) {
  double acc = 0.0;  // +0.0 + s is s for every square s
  for (std::size_t k = 0; k < n; ++k) {
    const double square = x[k] * x[k];
    acc += square;
  }
  return acc;
}

double plain_rms(const double* x, std::size_t n) {
  return std::sqrt(plain_sum_of_squares(x, n) / static_cast<double>(n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const fuzz::Samples samples(in);
  if (fuzz::input_hash(data, size) % 32 == 0) {
    // The fixed-length functions over silence with a stretch of the input's
    // samples somewhere in it: the squares of the zeros before the stretch
    // sum to +0.0 and those after it add +0.0, which changes no sum, so the
    // plain loops need only the stretch. One such execution costs as much as
    // a hundred others, so it is chosen by a hash of the whole input (one in
    // 32, whatever the corpus favours) rather than by a field of it.
    static std::vector<double> window(kLags, 0.0);
    static std::vector<double> magnitudes(kLags);
    static const std::vector<double> zeros(kLags, 0.0);
    constexpr std::size_t kStretch = 512;
    const std::size_t at = in.ConsumeIntegralInRange<std::size_t>(0, kLags - kStretch);
    samples.fill(window.data() + at, kStretch);
    if (at + kStretch <= kSpan) {
      const double expected = std::sqrt(plain_sum_of_squares(window.data() + at, kStretch) /
                                        static_cast<double>(kSpan));
      fuzz::check(fuzz::same_result(rms(window.data()), expected), "rms");
    }
    for (const bool in_place : {false, true}) {
      double stretch[kStretch];
      std::copy_n(window.data() + at, kStretch, stretch);
      double* out = in_place ? window.data() : magnitudes.data();
      b_abs(window.data(), out);
      for (std::size_t k = 0; k < kStretch; ++k) {
        fuzz::check(fuzz::bits(out[at + k]) == fuzz::bits(std::fabs(stretch[k])), "b_abs");
      }
      fuzz::check(std::memcmp(out, zeros.data(), at * sizeof(double)) == 0 &&
                      std::memcmp(out + at + kStretch, zeros.data(),
                                  (kLags - at - kStretch) * sizeof(double)) == 0,
                  "b_abs of zeros");
    }
    std::fill_n(window.data() + at, kStretch, 0.0);
    return 0;
  }

  double block[200];
  samples.fill(block, 200);
  fuzz::check(fuzz::bits(sum(block)) == fuzz::bits(plain_sum(block, 200)), "sum of 200");
  double v = fuzz::interesting_double(in);
  const double expected_log = std::log10(v);
  b_log10(&v);
  fuzz::check(fuzz::same_result(v, expected_log), "b_log10");
  b_log10(nullptr);

  fuzz::HostRecord record(in, samples, kBudget);
  const emxArray_real_T* x = record.get();
  const double total = combineVectorElements(x);
  fuzz::check(fuzz::bits(b_sum(x)) == fuzz::bits(total),
              "b_sum differs from combineVectorElements");
  // The failing request, if any, is b_rms's scratch.
  const long fail_at = in.ConsumeIntegralInRange<long>(0, 2);
  runtime::alloc_seam::fail_nth(fail_at);
  const long live = runtime::alloc_seam::live_blocks();
  const double r = b_rms(x);
  fuzz::check(runtime::alloc_seam::live_blocks() == live, "b_rms kept a block");
  const long requests = runtime::alloc_seam::requests();
  runtime::alloc_seam::reset();
  if (!readable(x)) {
    fuzz::check(std::isnan(total) && std::isnan(r), "unreadable record gave a number");
    return 0;
  }
  const auto n = static_cast<std::size_t>(x->size[0]);
  fuzz::check(fuzz::bits(total) == fuzz::bits(plain_sum(x->data, n)), "combineVectorElements");
  if (fail_at >= 1 && fail_at <= requests) {
    fuzz::check(std::isnan(r), "b_rms without its scratch gave a number");
  } else {
    fuzz::check(fuzz::same_result(r, plain_rms(x->data, n)), "b_rms");
  }
  return 0;
}
